#pragma once

#include <QString>

#include "shares/FilterParser.h"

class QTreeWidgetItem;
class Type;

// A result tab's filter text applied to a user's rows, the same way whether the rows were there
// when the text was typed or arrive afterwards. A folder's path is matched first: an excluded word
// in it hides the folder; the required words it lacks must then be in a file's name. A folder is
// shown with at least one and at least the minimum of its files shown, a user with a folder shown.
class SearchResultFilter
{
public:
    explicit SearchResultFilter(const QString& i_text);

    // Shows or hides the user row and the rows below it; returns whether the user row is shown.
    bool Apply(QTreeWidgetItem* ip_userRow) const;

private:
    FilterParser m_filter;
    Type* mp_fileNodes;
};
