#include "views/search/ReceivedSearchesForm.h"

#include <QColor>

#include "shares/SharedFoldersManager.h"
#include "shell/ActionSetToolBar.h"
#include "ui_ReceivedSearchesForm.h"

ReceivedSearchesForm* receivedSearchesForm = nullptr;

ReceivedSearchesForm::ReceivedSearchesForm(QWidget* ip_parent)
    : QWidget(ip_parent), mp_ui(std::make_unique<Ui_ReceivedSearchesForm>())
{
    mp_ui->setupUi(this);
    receivedSearchesForm = this;
    QTreeWidget* lp_list = mp_ui->searchList;
    lp_list->setColumnCount(2);
    lp_list->setColumnWidth(0, 320);
    lp_list->setColumnWidth(1, 50);
    lp_list->setHeaderLabels({tr("Search"), tr("Match")});
}

ReceivedSearchesForm::~ReceivedSearchesForm()
{
    if (receivedSearchesForm == this)
        receivedSearchesForm = nullptr;
}

void ReceivedSearchesForm::Init()
{
    connect(sharedFoldersManager, &SharedFoldersManager::SearchProcessed, this,
            &ReceivedSearchesForm::OnSearchProcessed);
    actionBar->AddSetAction("received_searches", "pause_unpause", tr("Pause"), ":/icons/pause_icon", false);
    actionBar->RegisterWidget(this, "received_searches");
    connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &ReceivedSearchesForm::OnActionTriggered);
}

void ReceivedSearchesForm::OnSearchProcessed(QString i_search, bool i_match)
{
    if (m_paused)
        return;
    QTreeWidget* lp_list = mp_ui->searchList;
    lp_list->setCurrentItem(nullptr);
    auto* lp_row = new QTreeWidgetItem({i_search});
    if (i_match)
    {
        lp_row->setForeground(1, QColor(0, 85, 0));
        lp_row->setText(1, tr("Match"));
    }
    lp_list->insertTopLevelItem(0, lp_row);
    if (lp_list->topLevelItemCount() > MaxRows)
        delete lp_list->takeTopLevelItem(MaxRows);
}

void ReceivedSearchesForm::OnActionTriggered(QWidget* ip_widget, QString i_action)
{
    if (ip_widget != this || i_action != QLatin1String("pause_unpause"))
        return;
    m_paused = !m_paused;
    actionBar->SetWidgetActionText(this, "pause_unpause", m_paused ? tr("Resume") : tr("Pause"));
}
