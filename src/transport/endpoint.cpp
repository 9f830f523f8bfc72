// What QVX_COM1 and QVX_COM2 name: a serial device, or a serial device server on the network.
#include "endpoint.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>
#include <array>

namespace {

struct Scheme
{
    QStringView name;
    Endpoint::Kind kind;
};

constexpr std::array kSchemes{
    Scheme{u"rfc2217", Endpoint::Kind::Rfc2217},
    Scheme{u"socket", Endpoint::Kind::RawSocket},
};

constexpr QStringView kSchemeSeparator = u"://";
constexpr int kMaxPort = 65535;

QString tr(const char *text)
{
    return QCoreApplication::translate("Endpoint", text);
}

// Whether an IPv6 host, as QUrl gives it, reads back the same once written in
// brackets. What QUrl lets through in a zone differs between Qt versions (Qt
// 6.8 keeps '[', '%' and non-ASCII characters that it does not take back), so
// the host is checked here: hexadecimal digits, ':' and '.', then after '%'
// a zone of the characters an interface name has.
bool isPlainIpv6(QStringView host)
{
    const auto isDigit = [](QChar c) { return c >= u'0' && c <= u'9'; };
    const auto isAddress = [&](QChar c) {
        return isDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F') || c == u':' || c == u'.';
    };
    const auto isZone = [&](QChar c) {
        return isDigit(c) || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'.' || c == u'-' ||
               c == u'_';
    };
    const qsizetype percent = host.indexOf(u'%');
    const QStringView address = percent < 0 ? host : host.first(percent);
    if (!std::all_of(address.begin(), address.end(), isAddress))
        return false;
    if (percent < 0)
        return true;
    const QStringView zone = host.sliced(percent + 1);
    return !zone.isEmpty() && std::all_of(zone.begin(), zone.end(), isZone);
}

// Why QUrl refused what follows the scheme, in words of our own: its texts
// quote its internals.
QString whyNotValid(QStringView address)
{
    const QStringView authority = address.left(address.indexOf(QRegularExpression(QStringLiteral("[/?#]"))));
    if (authority.startsWith(u'[') && !authority.contains(u']'))
        return tr("the IPv6 address has no closing ']'");
    const qsizetype colon = authority.lastIndexOf(u':');
    if (colon > authority.lastIndexOf(u']')) {
        const QStringView port = authority.mid(colon + 1);
        const bool digits =
            !port.isEmpty() && std::all_of(port.begin(), port.end(), [](QChar c) { return c.isDigit(); });
        if (!digits)
            return tr("the port \"%1\" is not a number").arg(port.toString());
        if (port.size() > 5 || port.toInt() > kMaxPort)
            return tr("the port number %1 is not within 1 to %2").arg(port.toString()).arg(kMaxPort);
    }
    if (authority.startsWith(u'['))
        return tr("the host in brackets is not an IPv6 address (a zone is written %25eth0)");
    return tr("the host holds characters that a host name cannot");
}

} // namespace

QString Endpoint::toString() const
{
    if (!isNetwork())
        return device;
    const auto scheme =
        std::find_if(kSchemes.begin(), kSchemes.end(), [&](const Scheme &s) { return s.kind == kind; });
    // An IPv6 host goes in brackets, with its zone's '%' written as a URL writes it.
    const QString shownHost =
        host.contains(u':') ? u'[' + QString(host).replace(u'%', QStringLiteral("%25")) + u']' : host;
    return scheme->name.toString() + kSchemeSeparator.toString() + shownHost + u':' + QString::number(port);
}

bool Endpoint::looksLikeUrl(QStringView text)
{
    return text.contains(kSchemeSeparator);
}

QString Endpoint::variableFor(int number)
{
    return QStringLiteral("QVX_COM%1").arg(number);
}

QString Endpoint::fromEnvironment(int number)
{
    const QString mapped = qEnvironmentVariable(variableFor(number).toLatin1().constData());
    if (!mapped.isEmpty())
        return mapped;
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(number);
#else
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
#endif
}

std::optional<Endpoint> Endpoint::parse(QStringView text, QString *error)
{
    if (!looksLikeUrl(text))
        return Endpoint{Kind::Device, text.toString(), {}, 0};

    const auto refuse = [&](const QString &why) {
        *error = tr("\"%1\" is not a usable address: %2. Write rfc2217://host:port or socket://host:port.")
                     .arg(text.toString(), why);
        return std::nullopt;
    };
    const QStringView schemeName = text.left(text.indexOf(kSchemeSeparator));
    const auto scheme =
        std::find_if(kSchemes.begin(), kSchemes.end(), [&](const Scheme &s) { return s.name == schemeName; });
    if (scheme == kSchemes.end())
        return refuse(tr("the scheme \"%1\" is unknown").arg(schemeName.toString()));

    const QUrl url(text.toString(), QUrl::StrictMode);
    if (!url.isValid())
        return refuse(whyNotValid(text.mid(schemeName.size() + kSchemeSeparator.size())));
    if (url.host().isEmpty())
        return refuse(tr("the host is missing"));
    if (!url.userInfo().isEmpty())
        return refuse(tr("a user name is not supported"));
    if (url.hasQuery() || url.hasFragment())
        return refuse(tr("options after the port are not supported"));
    if (!url.path().isEmpty())
        return refuse(tr("nothing may follow the port"));
    if (url.host().contains(u':') && !isPlainIpv6(url.host()))
        return refuse(tr("an IPv6 host holds only hexadecimal digits, ':' and '.', and its zone after '%' "
                         "only letters, digits, '.', '-' and '_'"));
    const int port = url.port();
    if (port < 0)
        return refuse(tr("the port number (1 to %1) is missing").arg(kMaxPort));
    if (port == 0)
        return refuse(tr("the port number 0 is not within 1 to %1").arg(kMaxPort));
    return Endpoint{scheme->kind, {}, url.host(), quint16(port)};
}
