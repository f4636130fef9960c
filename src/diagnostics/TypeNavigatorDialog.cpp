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
std::map<std::string, int> Distances(const std::string& i_from, int i_limit)
{
    std::map<std::string, int> l_distances;
    Type* lp_start = d.HasType(i_from);
    if (!lp_start)
        return l_distances;
    l_distances[i_from] = 0;
    std::deque<Type*> l_queue{lp_start};
    while (!l_queue.empty())
    {
        Type* lp_type = l_queue.front();
        l_queue.pop_front();
        const int l_next = l_distances[lp_type->GetName()] + 1;
        if (l_next > i_limit)
            continue;
        for (const auto& l_relation : lp_type->Relations())
            if (l_distances.emplace(l_relation.first->GetName(), l_next).second)
                l_queue.push_back(l_relation.first);
    }
    return l_distances;
}

QString Html(const std::string& i_name)
{
    return QString::fromStdString(i_name).toHtmlEscaped();
}
} // namespace

TypeNavigatorDialog::TypeNavigatorDialog(QWidget* ip_parent)
    : QDialog(ip_parent), mp_ui(new Ui_TypeNavigatorDialog)
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
    for (const auto& l_type : d.Types())
        mp_ui->fromTypeBox->addItem(QString::fromStdString(l_type.first));
}

void TypeNavigatorDialog::GetRelatedTypes(std::string i_typeName, std::set<std::string>& io_names,
                                          int i_depth)
{
    // Breadth first with a record of the types seen: hub types are related to dozens of
    // others, and walking every chain up to the limit would take hundreds of millions of steps.
    const int l_steps = kMaxSteps + 1 - i_depth;
    if (l_steps < 1)
        return;
    for (const auto& l_reached : Distances(i_typeName, l_steps))
        if (l_reached.second >= 1)
            io_names.insert(l_reached.first);
    // The start itself is reached again by stepping out and back, or over a relation to itself.
    if (Type* lp_type = d.HasType(i_typeName))
        if ((l_steps >= 2 && !lp_type->Relations().empty()) || lp_type->IsRelated(lp_type))
            io_names.insert(i_typeName);
}

void TypeNavigatorDialog::FindPath(std::string i_current, std::string i_target,
                                   std::list<std::string>& io_path)
{
    // Only types that can still reach the target within the remaining steps are entered; the
    // chains found are the same as those of a plain walk, found in the same order.
    Search(i_current, i_target, io_path, Distances(i_target, kMaxSteps));
}

void TypeNavigatorDialog::Search(const std::string& i_current, const std::string& i_target,
                                 std::list<std::string>& io_path,
                                 const std::map<std::string, int>& i_distanceToTarget)
{
    if (static_cast<int>(io_path.size()) > kMaxSteps)
        return;
    auto l_distance = i_distanceToTarget.find(i_current);
    if (l_distance == i_distanceToTarget.end() ||
        static_cast<int>(io_path.size()) + l_distance->second > kMaxSteps)
        return;
    Type* lp_type = d.HasType(i_current);
    if (!lp_type)
        return;

    io_path.push_back(i_current);
    if (i_current == i_target)
    {
        auto l_longer = std::find_if(m_paths.begin(), m_paths.end(),
                                     [&](const std::list<std::string>& i_found) {
                                         return i_found.size() > io_path.size();
                                     });
        m_paths.insert(l_longer, io_path);
    }
    else
    {
        for (const auto& l_relation : lp_type->Relations())
        {
            const std::string& l_name = l_relation.first->GetName();
            if (std::find(io_path.begin(), io_path.end(), l_name) == io_path.end())
                Search(l_name, i_target, io_path, i_distanceToTarget);
        }
    }
    io_path.pop_back();
}

void TypeNavigatorDialog::onFromTypeSelectionChanged(QString i_typeName)
{
    mp_ui->toTypeBox->clear();

    const std::string l_from = i_typeName.toStdString();
    std::set<std::string> l_names{l_from};
    GetRelatedTypes(l_from, l_names, 1);
    l_names.erase(l_from);

    for (const std::string& l_name : l_names)
        mp_ui->toTypeBox->addItem(QString::fromStdString(l_name));
}

void TypeNavigatorDialog::onToTypeSelectionChanged(QString)
{
    const std::string l_from = mp_ui->fromTypeBox->currentText().toStdString();
    const std::string l_to = mp_ui->toTypeBox->currentText().toStdString();

    m_paths.clear();
    mp_ui->chartEdit->clear();
    if (l_from.empty() || l_to.empty())
        return;

    std::list<std::string> l_path;
    FindPath(l_from, l_to, l_path);

    // One edit for all lines: laying the document out after each of a thousand lines would
    // take longer than the search.
    QTextCursor l_cursor(mp_ui->chartEdit->document());
    l_cursor.beginEditBlock();
    bool l_first = true;
    for (const std::list<std::string>& l_found : m_paths)
    {
        QString l_line;
        bool l_allSingle = true;
        Type* lp_previous = nullptr;
        for (const std::string& l_name : l_found)
        {
            Type* lp_type = d.HasType(l_name);
            if (lp_previous)
            {
                const RelationInfo* lp_relation = lp_previous->FindRelation(lp_type);
                const bool l_toMany = lp_relation && lp_relation->otherSide == Many;
                l_allSingle = l_allSingle && !l_toMany;
                l_line += l_toMany ? QStringLiteral(" => ") : QStringLiteral(" -> ");
            }
            l_line += QStringLiteral("<b>") + Html(l_name) + QStringLiteral("</b>");
            if (lp_type && lp_type->IsNull())
                l_line += QStringLiteral(" [null]");
            lp_previous = lp_type;
        }
        const QString l_prefix = l_allSingle
                                     ? QStringLiteral("<font color=green><b>[%1]</b></font> ")
                                     : QStringLiteral("[%1] ");
        if (!l_first)
            l_cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
        l_first = false;
        l_cursor.insertHtml(l_prefix.arg(l_found.size()) + l_line);
    }
    l_cursor.endEditBlock();
}
