#pragma once

#include <QDialog>

#include <memory>

#include "store/DataHandler.h"
#include "store/ItemPtr.h"

class Ui_AddSharedFolderDialog;

// Shares a new folder, or changes who may see one already shared: everyone, every user of the
// own user list, or the members of chosen groups. A wider audience keeps the narrower
// connections, so they come back when the audience is narrowed again. Deletes itself when closed,
// and closes without writing when its folder stops being shared meanwhile.
class AddSharedFolderDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    // A null folder shares a new one.
    explicit AddSharedFolderDialog(ItemPtr i_folder, QWidget* ip_parent = nullptr);
    ~AddSharedFolderDialog() override;

public slots:
    void OnSelectFolderClicked();
    void accept() override;
    void OnAccessibleToEveryoneCheckStateChanged(int i_state);
    void OnAccessibleToUserListCheckStateChanged(int i_state);

private:
    void OnSharedFolderRemoved(ItemPtr i_folder);

    std::unique_ptr<Ui_AddSharedFolderDialog> mp_ui;
    ItemPtr m_folder;
};
