// PJLink's authentication of one connection: its greeting, and whether each of its lines may be answered.
#include "pjlinkauth.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <utility>

namespace {

constexpr QByteArrayView kOpenGreeting = "PJLINK 0";
constexpr QByteArrayView kAuthGreeting = "PJLINK 1 ";
constexpr QByteArrayView kHexDigits = "0123456789abcdef";
// Setting this bit turns a hex digit's upper-case letter into its lower-case
// one and leaves the digits as they are, with no branch on the byte.
constexpr char kLowerCaseBit = 0x20;

} // namespace

PjlinkAuth::PjlinkAuth(std::optional<QByteArray> password)
    : PjlinkAuth(std::move(password), randomValue())
{}

PjlinkAuth::PjlinkAuth(std::optional<QByteArray> password, QByteArray random)
    : m_required(password.has_value())
    , m_random(std::move(random))
{
    if (m_required)
        m_expected = digestOf(m_random, *password);
}

QByteArray PjlinkAuth::greeting() const
{
    return (m_required ? kAuthGreeting.toByteArray() + m_random : kOpenGreeting.toByteArray()) +
           pjlink::kLineEnd;
}

bool PjlinkAuth::admit(const pjlink::ParsedLine &line)
{
    if (!m_required)
        return true;
    if (m_refused)
        return false;
    if (line.digest) {
        // parseLine gives hex digits only, for which the bit is a case fold.
        QByteArray folded = *line.digest;
        for (char &c : folded)
            c = char(c | kLowerCaseBit);
        m_authenticated = equalInConstantTime(folded, m_expected);
    }
    m_refused = !m_authenticated;
    return m_authenticated;
}

QByteArray PjlinkAuth::randomValue()
{
    QByteArray random(kRandomLength, '0');
    for (char &c : random)
        c = kHexDigits[QRandomGenerator::system()->bounded(int(kHexDigits.size()))];
    return random;
}

QByteArray PjlinkAuth::digestOf(QByteArrayView random, QByteArrayView password)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    hash.addData(random);
    hash.addData(password);
    return hash.result().toHex();
}

bool PjlinkAuth::equalInConstantTime(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}
