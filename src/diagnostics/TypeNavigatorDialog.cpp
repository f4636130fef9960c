#include "diagnostics/TypeNavigatorDialog.h"

#include <QComboBox>
#include <QTextBrowser>
#include <QTextCursor>

#include <algorithm>
#include <deque>

#include "store/Data.h"
#include "ui_TypeNavigatorDialog.h"

TypeNavigatorDialog* typeNavigatorDialog = nullptr;

namespace
{
// Steps from every type to the named one, for those within the limit. Relations are mirrored,
// so the distance to a type equals the distance from it.
std::map<std::string, int> Distances(const std::string& from, int limit)
{
    std::map<std::string, int> distances;
    Type* start = d.HasType(from);
    if (!start)
        return distances;
    distances[from] = 0;
    std::deque<Type*> queue{start};
    while (!queue.empty())
    {
        Type* type = queue.front();
        queue.pop_front();
        const int next = distances[type->GetName()] + 1;
        if (next > limit)
            continue;
        for (const auto& relation : type->Relations())
            if (distances.emplace(relation.first->GetName(), next).second)
                queue.push_back(relation.first);
    }
    return distances;
}

QString Html(const std::string& name)
{
    return QString::fromStdString(name).toHtmlEscaped();
}
} // namespace

TypeNavigatorDialog::TypeNavigatorDialog(QWidget* parent)
    : QDialog(parent), mp_ui(new Ui_TypeNavigatorDialog)
{
    typeNavigatorDialog = this;
    mp_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
}

TypeNavigatorDialog::~TypeNavigatorDialog()
{
    if (typeNavigatorDialog == this)
        typeNavigatorDialog = nullptr;
    delete mp_ui;
}

void TypeNavigatorDialog::Init()
{
    // The store keeps its types by name, that is in byte order already.
    for (const auto& type : d.Types())
        mp_ui->fromTypeBox->addItem(QString::fromStdString(type.first));
}

void TypeNavigatorDialog::GetRelatedTypes(std::string typeName, std::set<std::string>& names,
                                          int depth)
{
    // Breadth first with a record of the types seen: hub types are related to dozens of
    // others, and walking every chain up to the limit would take hundreds of millions of steps.
    const int steps = kMaxSteps + 1 - depth;
    if (steps < 1)
        return;
    for (const auto& reached : Distances(typeName, steps))
        if (reached.second >= 1)
            names.insert(reached.first);
    // The start itself is reached again by stepping out and back, or over a relation to itself.
    if (Type* type = d.HasType(typeName))
        if ((steps >= 2 && !type->Relations().empty()) || type->IsRelated(type))
            names.insert(typeName);
}

void TypeNavigatorDialog::FindPath(std::string current, std::string target,
                                   std::list<std::string>& path)
{
    // Only types that can still reach the target within the remaining steps are entered; the
    // chains found are the same as those of a plain walk, found in the same order.
    Search(current, target, path, Distances(target, kMaxSteps));
}

void TypeNavigatorDialog::Search(const std::string& current, const std::string& target,
                                 std::list<std::string>& path,
                                 const std::map<std::string, int>& distanceToTarget)
{
    if (static_cast<int>(path.size()) > kMaxSteps)
        return;
    auto distance = distanceToTarget.find(current);
    if (distance == distanceToTarget.end() ||
        static_cast<int>(path.size()) + distance->second > kMaxSteps)
        return;
    Type* type = d.HasType(current);
    if (!type)
        return;

    path.push_back(current);
    if (current == target)
    {
        auto longer = std::find_if(m_paths.begin(), m_paths.end(),
                                   [&](const std::list<std::string>& found) {
                                       return found.size() > path.size();
                                   });
        m_paths.insert(longer, path);
    }
    else
    {
        for (const auto& relation : type->Relations())
        {
            const std::string& name = relation.first->GetName();
            if (std::find(path.begin(), path.end(), name) == path.end())
                Search(name, target, path, distanceToTarget);
        }
    }
    path.pop_back();
}

void TypeNavigatorDialog::onFromTypeSelectionChanged(QString typeName)
{
    mp_ui->toTypeBox->clear();

    const std::string from = typeName.toStdString();
    std::set<std::string> names{from};
    GetRelatedTypes(from, names, 1);
    names.erase(from);

    for (const std::string& name : names)
        mp_ui->toTypeBox->addItem(QString::fromStdString(name));
}

void TypeNavigatorDialog::onToTypeSelectionChanged(QString)
{
    const std::string from = mp_ui->fromTypeBox->currentText().toStdString();
    const std::string to = mp_ui->toTypeBox->currentText().toStdString();

    m_paths.clear();
    mp_ui->chartEdit->clear();
    if (from.empty() || to.empty())
        return;

    std::list<std::string> path;
    FindPath(from, to, path);

    // One edit for all lines: laying the document out after each of a thousand lines would
    // take longer than the search.
    QTextCursor cursor(mp_ui->chartEdit->document());
    cursor.beginEditBlock();
    bool first = true;
    for (const std::list<std::string>& found : m_paths)
    {
        QString line;
        bool allSingle = true;
        Type* previous = nullptr;
        for (const std::string& name : found)
        {
            Type* type = d.HasType(name);
            if (previous)
            {
                const RelationInfo* relation = previous->FindRelation(type);
                const bool toMany = relation && relation->otherSide == Many;
                allSingle = allSingle && !toMany;
                line += toMany ? QStringLiteral(" => ") : QStringLiteral(" -> ");
            }
            line += QStringLiteral("<b>") + Html(name) + QStringLiteral("</b>");
            if (type && type->IsNull())
                line += QStringLiteral(" [null]");
            previous = type;
        }
        const QString prefix = allSingle ? QStringLiteral("<font color=green><b>[%1]</b></font> ")
                                         : QStringLiteral("[%1] ");
        if (!first)
            cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
        first = false;
        cursor.insertHtml(prefix.arg(found.size()) + line);
    }
    cursor.endEditBlock();
}
