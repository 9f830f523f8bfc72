// What qvx-bridge serves of each projector, as its section of the venue file says.
#include "bridgeconfig.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <QHash>

#include <algorithm>
#include <cmath>

using namespace std::chrono;

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("BridgeConfig", text);
}

constexpr QStringView kNone = u"none";
constexpr double kLongestStatusAge = 60;
constexpr double kShortestPoll = 1;
constexpr double kLongestPoll = 3600;
// PJLink's passwords are at most 32 bytes, as the common clients take them.
constexpr qsizetype kLongestPassword = 32;
constexpr qsizetype kLongestIdentity = 32;
constexpr qsizetype kMostAddresses = 4;

bool isPrintableAscii(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u' ' && c <= u'~'; });
}

// Reads one section's keys, noting each error with its line.
class SectionReader
{
public:
    SectionReader(const Venue &venue, const Projector &projector, QStringList *errors)
        : m_venue(venue)
        , m_projector(projector)
        , m_errors(errors)
    {}

    const VenueEntry *entry(QStringView key) const { return m_projector.entry(key); }

    void fail(int line, const QString &why)
    {
        m_errors->append(QStringLiteral("%1:%2: %3").arg(m_venue.fileName()).arg(line).arg(why));
        m_failed = true;
    }
    bool failed() const { return m_failed; }

    // Addresses separated by commas, such as "0.0.0.0:4352, [::]:4352".
    QList<PjlinkAddress> addresses(QStringView key)
    {
        const VenueEntry *given = entry(key);
        if (!given || given->value == kNone)
            return {};
        QList<PjlinkAddress> addresses;
        for (const QStringView text : QStringView(given->value).split(u',')) {
            QString why;
            const auto address = PjlinkAddress::parse(text.trimmed(), &why);
            if (!address) {
                fail(given->line, QStringLiteral("%1: %2").arg(key.toString(), why));
                return {};
            }
            addresses.append(*address);
        }
        if (addresses.size() > kMostAddresses)
            fail(given->line, tr("%1 takes at most %2 addresses").arg(key.toString()).arg(kMostAddresses));
        return addresses;
    }

    std::optional<PjlinkAddress> address(QStringView key)
    {
        const VenueEntry *given = entry(key);
        if (!given || given->value == kNone)
            return std::nullopt;
        QString why;
        auto address = PjlinkAddress::parse(given->value, &why);
        if (!address)
            fail(given->line, QStringLiteral("%1: %2").arg(key.toString(), why));
        return address;
    }

    std::optional<milliseconds> seconds(QStringView key, double least, double most, milliseconds otherwise,
                                        bool noneAllowed)
    {
        const VenueEntry *given = entry(key);
        if (!given)
            return otherwise;
        if (noneAllowed && given->value == kNone)
            return std::nullopt;
        bool ok = false;
        const double value = given->value.toDouble(&ok);
        if (!ok || !std::isfinite(value) || value < least || value > most) {
            fail(given->line, tr("%1 is a number of seconds from %2 to %3%4, not \"%5\"")
                                  .arg(key.toString())
                                  .arg(least)
                                  .arg(most)
                                  .arg(noneAllowed ? tr(", or none") : QString(), given->value));
            return otherwise;
        }
        return milliseconds(qint64(std::llround(value * 1000)));
    }

    std::optional<QByteArray> identity(QStringView key)
    {
        const VenueEntry *given = entry(key);
        if (!given)
            return std::nullopt;
        if (given->value.size() > kLongestIdentity || !isPrintableAscii(given->value))
            fail(given->line,
                 tr("%1 is at most %2 printable ASCII characters").arg(key.toString()).arg(kLongestIdentity));
        return given->value.toLatin1();
    }

    // The password, or nothing for none; a failure when neither is said.
    std::optional<QByteArray> password(const QList<PjlinkAddress> &addresses)
    {
        const VenueEntry *text = entry(u"pjlink-password");
        const VenueEntry *file = entry(u"pjlink-password-file");
        if (text && file) {
            fail(file->line, tr("pjlink-password-file and pjlink-password (line %1) are both given; keep one")
                                 .arg(text->line));
            return std::nullopt;
        }
        if (file)
            return passwordFile(*file);
        if (text && text->value == kNone)
            return std::nullopt;
        if (text)
            return checked(text->line, text->value.toUtf8());
        for (const PjlinkAddress &address : addresses) {
            if (address.host.isLoopback())
                continue;
            fail(entry(u"pjlink")->line,
                 tr("PJLink on %1 would take commands from the network without a password; give "
                    "pjlink-password or pjlink-password-file, or pjlink-password = none to serve it without "
                    "one")
                     .arg(address.toString()));
            break;
        }
        return std::nullopt;
    }

private:
    std::optional<QByteArray> checked(int line, const QByteArray &password)
    {
        if (password.isEmpty() || password.size() > kLongestPassword ||
            !isPrintableAscii(QString::fromLatin1(password)))
            fail(line, tr("a PJLink password is 1 to %1 printable ASCII characters").arg(kLongestPassword));
        return password;
    }

    std::optional<QByteArray> passwordFile(const VenueEntry &given)
    {
        const QFileInfo info(given.value);
        QFile file(given.value);
        if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
            fail(given.line,
                 tr("the password file %1 cannot be read: %2")
                     .arg(given.value, info.exists() ? file.errorString() : tr("it does not exist")));
            return std::nullopt;
        }
        constexpr auto kOthers = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                                 QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
        if (info.permissions() & kOthers) {
            fail(given.line,
                 tr("the password file %1 is open to others than its owner; chmod 600 it").arg(given.value));
            return std::nullopt;
        }
        QByteArray password = file.read(kLongestPassword + 2);
        if (password.endsWith('\n'))
            password.chop(1);
        if (password.endsWith('\r'))
            password.chop(1);
        return checked(given.line, password);
    }

    const Venue &m_venue;
    const Projector &m_projector;
    QStringList *m_errors;
    bool m_failed = false;
};

} // namespace

std::optional<BridgeConfig> BridgeConfig::of(const Venue &venue, const Projector &projector,
                                             QStringList *errors)
{
    SectionReader reader(venue, projector, errors);
    BridgeConfig config;
    config.label = projector.name;
    config.endpoint = projector.endpoint;
    config.settings = projector.settings;
    config.identity = identityOf(projector);
    config.pjlink = reader.addresses(u"pjlink");
    if (!config.pjlink.isEmpty())
        config.password = reader.password(config.pjlink);
    config.commands = reader.address(u"commands");
    config.statusAge = *reader.seconds(u"status-age", 0, kLongestStatusAge, config.statusAge, false);
    config.poll = reader.seconds(u"poll", kShortestPoll, kLongestPoll, *config.poll, true);
    config.identity.serialNumber = reader.identity(u"serial-number");
    config.identity.softwareVersion = reader.identity(u"software-version");
    if (reader.failed())
        return std::nullopt;
    return config;
}

std::optional<QList<BridgeConfig>> BridgeConfig::allOf(const Venue &venue, QStringList *errors,
                                                       QStringList *skipped)
{
    QList<BridgeConfig> configs;
    // Each address with the line that first took it.
    QHash<QString, int> taken;
    const qsizetype before = errors->size();
    for (const Projector &projector : venue.projectors()) {
        if (!projector.entry(u"pjlink") && !projector.entry(u"commands")) {
            skipped->append(projector.name);
            continue;
        }
        auto config = of(venue, projector, errors);
        if (!config)
            continue;
        // "pjlink = none" and "commands = none" leave nobody to serve.
        if (config->pjlink.isEmpty() && !config->commands) {
            skipped->append(projector.name);
            continue;
        }
        const auto claim = [&](QStringView key, const std::optional<PjlinkAddress> &address) {
            if (!address)
                return;
            const int line = projector.entry(key)->line;
            const auto first = taken.constFind(address->toString());
            if (first == taken.cend()) {
                taken.insert(address->toString(), line);
                return;
            }
            errors->append(QStringLiteral("%1:%2: ").arg(venue.fileName()).arg(line) +
                           tr("%1 is taken already, on line %2").arg(address->toString()).arg(*first));
        };
        for (const PjlinkAddress &address : std::as_const(config->pjlink))
            claim(u"pjlink", address);
        claim(u"commands", config->commands);
        configs.append(*config);
    }
    if (errors->size() > before)
        return std::nullopt;
    return configs;
}
