#pragma once

#include <QString>

#include <memory>

#include "views/search/ShareTreeForm.h"

class Ui_UploadForm;

// An upload tab: our own shared files as one user may see them, from which chosen files or whole
// folders are pushed to that user as uploads. Its tree is its own, tied to no user.
class UploadForm : public ShareTreeForm
{
    Q_OBJECT

public:
    UploadForm(QString i_user, QWidget* ip_parent);
    ~UploadForm() override;

    // Shows the tree and makes the tab usable; once, right after construction.
    void SetShare(ItemPtr i_share);
    void Delete() override;

public slots:
    // "Upload Folder" from this tab's folder tree, "Upload File" from its file list.
    void OnActionBarTriggered(QWidget* ip_widget, QString i_action);

private:
    // Every file of the folder, then of each folder below it, filtered or not.
    void UploadFolder(ItemPtr i_folder);
    void Upload(ItemPtr i_file);

    std::unique_ptr<Ui_UploadForm> mp_ui;
};
