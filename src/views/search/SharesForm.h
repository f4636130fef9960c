#pragma once

#include <QString>
#include <QWidget>

#include <memory>

#include "peer/AttributeTranslationTable.h"
#include "peer/FileInfoMap.h"
#include "store/DataHandler.h"
#include "store/ItemPtr.h"
#include "views/chat/ShareBrowser.h"

class QTabWidget;
class ShareForm;
class Ui_SharesForm;
class UploadForm;

// The "Browse" page: one browse tab per user whose shared files are looked at and one upload tab
// per user to whom our own files are offered. A user has an open tab of a kind exactly while its
// `user` item holds a `user_share_tab` or `upload_share_tab`, valued by the tab's address. Lists
// received from other users become `user_share` trees here. There is one, reached through
// `sharesForm` while it lives.
class SharesForm : public QWidget, public DataHandler, public ShareBrowser
{
    Q_OBJECT

public:
    explicit SharesForm(QWidget* ip_parent = nullptr);
    ~SharesForm() override;

    // Declares the tab and row types and the toolbar sets, and follows the messenger's lists.
    // Once, after the peer messenger and the shares engine exist and before the store is loaded.
    void Init();

    // The user's tab, focused; a new browse tab asks the user for the list.
    ShareForm* OpenShareBrowse(QString i_user) override;
    UploadForm* OpenUploadBrowse(QString i_user) override;

    // A new `user_share` tree of a list, tied to no user. A folder is put under its parent
    // folder when the parent is in the list too, else it stands at the top.
    static ItemPtr CreateUserShareData(FileInfoMap& i_folders, AttributeTranslationTable& i_attributes);

    QTabWidget* TabControl() const;

public slots:
    void OnTabCloseRequested(int i_index);
    // The expand and collapse actions of both tab kinds act on the current tab.
    void OnToolBarActionTriggered(QWidget* ip_widget, QString i_action);
    // A list is kept only for a browse tab that shows none yet.
    void OnUserShare(QString i_user, FileInfoMap& i_share, AttributeTranslationTable& i_translationTable);

private:
    std::unique_ptr<Ui_SharesForm> mp_ui;
};
