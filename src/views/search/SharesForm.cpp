#include "views/search/SharesForm.h"

#include "peer/PeerMessenger.h"
#include "shares/SharedFoldersManager.h"
#include "shell/ActionSetToolBar.h"
#include "shell/UIFunctions.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/SchemaDeclaration.h"
#include "ui_SharesForm.h"
#include "views/search/ShareForm.h"
#include "views/search/UploadForm.h"

namespace
{
// Rows find their items through the nodes, tabs their users through the tab records; none of
// them is saved.
const TypeDeclaration TabTypes[] = {
    {"user_share_tab", Primary, false},
    {"upload_share_tab", Primary, false},
    {"user_share_folder_node", Intermediate, false},
    {"user_share_file_node", Intermediate, false},
};

const RelationDeclaration TabRelations[] = {
    {"user_share_tab", "user", One, One},
    {"upload_share_tab", "user", One, One},
    {"user_share_folder_node", "user_share_folder", One, One},
    {"user_share_file_node", "user_share_file", One, One},
};

const ToolbarAction TabActions[] = {
    {"share_folders", "expand_level", "Expand Level", ":/icons/browse_icon", false},
    {"share_folders", "collapse_all", "Collapse All", ":/icons/browse_icon", false},
    {"share_folders", "expand_all", "Expand All", ":/icons/browse_icon", false},
    {"upload_folders", "upload_share_folder", "Upload Folder", ":/icons/transfer_icon", true},
    {"upload_folders", "expand_level", "Expand Level", ":/icons/browse_icon", false},
    {"upload_folders", "collapse_all", "Collapse All", ":/icons/browse_icon", false},
    {"upload_folders", "expand_all", "Expand All", ":/icons/browse_icon", false},
    {"upload_files", "upload_share_file", "Upload File", ":/icons/transfer_icon", true},
};

// The types every file of a list is tied to, looked up once per list.
struct ListTypes
{
    Type* folder = d.GetType("user_share_folder");
    Type* folderName = d.GetType("user_share_folder_name");
    Type* parent = d.GetType("user_share_folder_parent");
    Type* child = d.GetType("user_share_folder_child");
    Type* file = d.GetType("user_share_file");
    Type* fileName = d.GetType("user_share_file_name");
    Type* size = d.GetType("file_size");
    Type* bitrate = d.GetType("bitrate");
    Type* length = d.GetType("length_seconds");
    Type* mode = d.GetType("bitrate_mode");
};

// The user's open tab of that record type, brought to the front; null when there is none.
template <class Tab>
Tab* FocusOpenTab(const QString& i_user, const char* i_record)
{
    auto* lp_tab = d.GetType("user")->GetItem(Value(i_user))[i_record].AsPointer<Tab>();
    if (lp_tab)
        FocusWidgetAndParents(lp_tab);
    return lp_tab;
}

} // namespace

SharesForm::SharesForm(QWidget* ip_parent) : QWidget(ip_parent), mp_ui(std::make_unique<Ui_SharesForm>())
{
    sharesForm = this;
    mp_ui->setupUi(this);
}

SharesForm::~SharesForm()
{
    if (sharesForm == this)
        sharesForm = nullptr;
}

QTabWidget* SharesForm::TabControl() const
{
    return mp_ui->tabControl;
}

void SharesForm::Init()
{
    DeclareTypes(TabTypes);
    DeclareRelations(TabRelations);
    connect(mp_ui->tabControl, &QTabWidget::tabCloseRequested, this, &SharesForm::OnTabCloseRequested);
    if (actionBar)
    {
        actionBar->AddSetActions(TabActions);
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &SharesForm::OnToolBarActionTriggered);
    }
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::UserShare, this, &SharesForm::OnUserShare);
}

ShareForm* SharesForm::OpenShareBrowse(QString i_user)
{
    if (auto* lp_open = FocusOpenTab<ShareForm>(i_user, "user_share_tab"))
        return lp_open;
    auto* lp_form = new ShareForm(i_user, this);
    mp_ui->tabControl->addTab(lp_form, LiteralAmpersands(i_user));
    if (peerMessenger)
        peerMessenger->GetUserSharedFiles(i_user);
    FocusWidgetAndParents(lp_form);
    return lp_form;
}

UploadForm* SharesForm::OpenUploadBrowse(QString i_user)
{
    if (auto* lp_open = FocusOpenTab<UploadForm>(i_user, "upload_share_tab"))
        return lp_open;
    auto* lp_form = new UploadForm(i_user, this);
    mp_ui->tabControl->addTab(lp_form, LiteralAmpersands("Upload to " + i_user));
    FileInfoMap l_folders;
    AttributeTranslationTable l_attributes;
    if (sharedFoldersManager)
        sharedFoldersManager->GetSharedFilesAsUserShare(i_user, l_folders, l_attributes);
    lp_form->SetShare(CreateUserShareData(l_folders, l_attributes));
    FocusWidgetAndParents(lp_form);
    return lp_form;
}

void SharesForm::OnUserShare(QString i_user, FileInfoMap& i_share, AttributeTranslationTable& i_translationTable)
{
    const ItemPtr l_user = d.GetType("user")->HasItem(Value(i_user));
    const ItemPtr l_tab = l_user["user_share_tab"];
    // Without a tab nobody asked; with a tree the tab has its answer.
    if (!l_tab || l_user.IsConnected("user_share"))
        return;
    const ItemPtr l_root = CreateUserShareData(i_share, i_translationTable);
    l_user += l_root;
    l_tab.AsPointer<ShareForm>()->SetShare(l_root);
}

ItemPtr SharesForm::CreateUserShareData(FileInfoMap& i_folders, AttributeTranslationTable&)
{
    const ListTypes l_types;
    const ItemPtr l_root = d.GetType("user_share")->NewItem();
    // Paths in byte order: a parent in the list comes before its sub-folders.
    for (const auto& [l_path, l_files] : i_folders)
    {
        const ItemPtr l_folder = l_types.folder->NewItem();
        l_root += l_folder;
        l_folder += l_types.folderName->GetItem(l_path);
        const std::string l_parentPath = GetParentFolder(l_path);
        if (l_parentPath != l_path)
            if (const ItemPtr l_parent = ShareTreeForm::FolderInTree(l_root, l_parentPath))
            {
                const ItemPtr l_child = l_types.child->NewItem();
                const ItemPtr l_link = l_types.parent->NewItem();
                l_parent += l_child;
                l_folder += l_link;
                l_child += l_link;
            }
        for (const FileInfo& l_record : l_files)
        {
            const ItemPtr l_file = l_types.file->NewItem();
            l_folder += l_file;
            l_file += l_types.fileName->GetItem(l_record.name);
            l_file += l_types.size->GetItem(Value(static_cast<long long>(l_record.size)));
            for (const auto& [l_code, l_value] : l_record.attributeMap.attributes)
            {
                if (l_code == AttributeMap::Bitrate)
                    l_file += l_types.bitrate->GetItem(Value(l_value));
                else if (l_code == AttributeMap::Length)
                    l_file += l_types.length->GetItem(Value(l_value));
                else if (l_code == AttributeMap::VariableBitrate)
                    l_file += l_types.mode->GetItem(l_value == 0 ? "cbr" : "vbr");
            }
        }
    }
    return l_root;
}

void SharesForm::OnTabCloseRequested(int i_index)
{
    if (auto* lp_tab = qobject_cast<ShareTreeForm*>(mp_ui->tabControl->widget(i_index)))
    {
        mp_ui->tabControl->removeTab(i_index);
        lp_tab->Delete();
    }
}

void SharesForm::OnToolBarActionTriggered(QWidget*, QString i_action)
{
    auto* lp_tab = qobject_cast<ShareTreeForm*>(mp_ui->tabControl->currentWidget());
    if (!lp_tab)
        return;
    if (i_action == QLatin1String("expand_level"))
        lp_tab->ExpandLevel();
    else if (i_action == QLatin1String("collapse_all"))
        lp_tab->CollapseAll();
    else if (i_action == QLatin1String("expand_all"))
        lp_tab->ExpandAll();
}
