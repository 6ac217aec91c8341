#include "Profiles.h"

#include "Configuration.h"
#include "ProfileCatalog.h"

#include <algorithm>
#include <vector>

namespace korvane::cli {

ProfileSet::ProfileSet(const QString& storePath)
{
    try {
        InitializeProfiles(&m_list, &m_owner, storePath);
    } catch (const std::exception& e) {
        // the list is left as the catalog built it
        m_warning = QString::fromUtf8(e.what());
    }
}

QString ProfileSet::UserStorePath()
{
    return ProfileStorePath(TAVConfiguration::GetAppDataFolder());
}

TAVProfile* ProfileSet::Find(const QString& name) const
{
    const QString wanted = name.trimmed();
    for (int i = 0; i < m_list.Count(); ++i)
        if (m_list.Items(i)->Description().compare(wanted, Qt::CaseInsensitive) == 0)
            return m_list.Items(i);
    return nullptr;
}

int EditDistance(const QString& a, const QString& b)
{
    const QString x = a.toLower(), y = b.toLower();
    std::vector<int> row(y.size() + 1);
    for (int j = 0; j <= y.size(); ++j)
        row[j] = j;
    for (int i = 1; i <= x.size(); ++i) {
        int diagonal = row[0];
        row[0] = i;
        for (int j = 1; j <= y.size(); ++j) {
            const int above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (x[i - 1] == y[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[y.size()];
}

QStringList ProfileSet::CloseMatches(const QString& name, int max) const
{
    const QString wanted = name.trimmed();
    struct Candidate
    {
        int score;
        int index;
        QString text;
    };
    std::vector<Candidate> found;
    for (int i = 0; i < m_list.Count(); ++i) {
        const QString d = m_list.Items(i)->Description();
        const bool part = !wanted.isEmpty() && (d.contains(wanted, Qt::CaseInsensitive) ||
                                                wanted.contains(d, Qt::CaseInsensitive));
        const int distance = EditDistance(d, wanted);
        const int allowed = std::max<int>(2, int(wanted.size()) / 3);
        if (part || distance <= allowed)
            found.push_back({part ? 0 : distance, i, d});
    }
    std::stable_sort(found.begin(), found.end(), [](const Candidate& l, const Candidate& r) { return l.score < r.score; });
    QStringList result;
    for (const Candidate& c : found)
        if (!result.contains(c.text) && result.size() < max)
            result << c.text;
    return result;
}

QString ProfileSet::CategoryNamed(const QString& name) const
{
    const int index = m_list.IndexOfCategory(name.trimmed());
    if (index >= 0)
        return m_list.Categories().at(index);
    for (int i = 0; i < m_list.Count(); ++i)
        if (m_list.Items(i)->Category().compare(name.trimmed(), Qt::CaseInsensitive) == 0)
            return m_list.Items(i)->Category();
    return {};
}

} // namespace korvane::cli
