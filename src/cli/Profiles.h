// The profiles the command line offers: the built-in catalog with the user's
// custom profiles from the store over it, as the application starts with them.
// The store is only read, never written back.
#pragma once

#include "profiles/AVProfile.h"

#include <QObject>
#include <QString>
#include <QStringList>

namespace korvane::cli {

class ProfileSet
{
public:
    // Builds the catalog and reads the store at storePath when it exists. A
    // store that cannot be read leaves the catalog and is reported in Warning().
    explicit ProfileSet(const QString& storePath);
    // The store of the user's settings folder.
    static QString UserStorePath();

    const TAVProfileList& List() const { return m_list; }
    QString Warning() const { return m_warning; }

    // First profile whose Description equals name without regard to case.
    TAVProfile* Find(const QString& name) const;
    // Descriptions that look like name (a part of it, or a few letters off),
    // closest first, at most max.
    QStringList CloseMatches(const QString& name, int max = 5) const;
    // The category as the list spells it, matched without regard to case
    // (also a category only custom profiles use); empty when unknown.
    QString CategoryNamed(const QString& name) const;

private:
    QObject m_owner; // owns the profiles; declared before the list, so freed after it
    TAVProfileList m_list;
    QString m_warning;
};

// Edit distance of two texts (case-insensitive), for the suggestions.
int EditDistance(const QString& a, const QString& b);

} // namespace korvane::cli
