// The venue file, which names each projector of a venue with its port, its speed and qvx-bridge's keys.
#pragma once

#include "endpoint.h"

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// A "key = value" line of a projector's section that the venue keeps for the
// program that reads it, such as qvx-bridge's pjlink; line numbers count from 1.
struct VenueEntry
{
    QString key;
    QString value;
    int line = 0;
};

// One [section] of the venue file: a projector, named by its section.
struct Projector
{
    QString name;
    // The section's line, for messages about the projector.
    int line = 0;
    // The port as written, and the endpoint Endpoint::parse makes of it.
    QString port;
    Endpoint endpoint;
    // A settings text for LineSettings::parse: kText9600 unless the speed is 115200.
    QString settings;
    // The keys the venue does not read itself, in file order.
    QList<VenueEntry> entries;

    const VenueEntry *entry(QStringView key) const;
};

// A venue's projectors in file order, as its venue file names them. Only
// parse() makes one (load() reads the file for it), so every projector has a
// port of its own that Endpoint::parse takes, a speed the panel knows, and no
// key that no program reads.
class Venue
{
public:
    // Bounds for a file that is meant to name a few dozen projectors, so that a
    // wrong file given by mistake is refused instead of read whole.
    static constexpr qsizetype kMaxFileBytes = 1024 * 1024;
    static constexpr qsizetype kMaxLineBytes = 4096;

    const QString &fileName() const { return m_fileName; }
    const QList<Projector> &projectors() const { return m_projectors; }
    // The projector of that section name, in any case; nullptr when there is none.
    const Projector *find(QStringView name) const;

    // Where the venue file is looked for, in order: $XDG_CONFIG_HOME/qvx/venue.conf
    // ($HOME/.config when unset) and /etc/qvx/venue.conf.
    static QStringList searchOrder();
    // The first file of searchOrder() that exists, whole and alone; empty when none does.
    static QString findFile();
    // Reads and parses the file; an error names the path, and the line where there is one.
    static std::optional<Venue> load(const QString &path, QString *error);
    // An error reads "fileName:line: what is wrong", as a compiler's does.
    static std::optional<Venue> parse(QByteArrayView text, const QString &fileName, QString *error);

private:
    Venue(QString fileName, QList<Projector> projectors);

    QString m_fileName;
    QList<Projector> m_projectors;
};
