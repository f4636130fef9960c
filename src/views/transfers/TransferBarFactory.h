#pragma once

#include <QItemEditorFactory>

// Makes the live bar of a running transfer as its list's persistent editor of the progress cell,
// whatever the cell holds. The list places such an editor where its row lies now, while a bar set
// as an item widget would have the list lay every row out again, once per transfer started.
class TransferBarFactory : public QItemEditorFactory
{
public:
    // The one factory of the transfer lists' progress columns.
    static TransferBarFactory& Get();

    QWidget* createEditor(int i_userType, QWidget* ip_parent) const override;
    // The bar shows what the view sets on it, never the cell's data.
    QByteArray valuePropertyName(int i_userType) const override;
};
