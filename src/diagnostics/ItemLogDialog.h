#pragma once

#include <QDialog>

#include "store/DataHandler.h"
#include "store/ItemPtr.h"

class QTextBrowser;
class Ui_ItemLogDialog;

// The log entries recorded on one item: every entry under "All" and each under its area's
// tab, in entry order, followed live while the dialog is open. Deletes itself when closed.
class ItemLogDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    explicit ItemLogDialog(ItemPtr i_item, QWidget* ip_parent = nullptr);
    ~ItemLogDialog() override;

    // Shows one item_log entry of the item.
    void OnItemLog(ItemPtr i_entry);

private:
    QTextBrowser* AreaBrowser(const QString& i_area);

    Ui_ItemLogDialog* mp_ui;
    ItemPtr m_item;
    QTextBrowser* mp_allBrowser = nullptr;
};
