#pragma once

#include <QWidget>

#include "store/DataLoadedEventHandler.h"
#include "store/ItemPtr.h"

class CompleteDownloadItem;
class QTreeWidget;
class Ui_CompleteDownloadsForm;

// The downloads that have finished, newest first, from the transfer queues' records; one row
// for each record, made at the load, or at once when the list is made after it, and on each
// completion, which brings the row of a record finished again up to date and to its place.
// There is one at most, reached through `completeDownloadsForm`.
class CompleteDownloadsForm : public QWidget, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    explicit CompleteDownloadsForm(QWidget* ip_parent = nullptr);
    ~CompleteDownloadsForm() override;
    CompleteDownloadsForm(const CompleteDownloadsForm&) = delete;
    CompleteDownloadsForm& operator=(const CompleteDownloadsForm&) = delete;

    // A list made after the store was loaded would never hear of the load: it fills itself here.
    void Init(bool i_storeLoaded);
    void DataLoaded() override;
    QTreeWidget* List() const;

public slots:
    void OnCompleteDownloadAdded(ItemPtr i_record);

private:
    CompleteDownloadItem* RowOf(ItemPtr i_record) const;
    static void Fill(CompleteDownloadItem* ip_row, ItemPtr i_record);
    CompleteDownloadItem* NewRow(ItemPtr i_record);

    Ui_CompleteDownloadsForm* mp_ui = nullptr;
};

extern CompleteDownloadsForm* completeDownloadsForm;
