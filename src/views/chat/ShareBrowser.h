#pragma once

#include <QString>

class ShareForm;
class UploadForm;

// What the user menu needs of the browse view: a user's shared files, or our own files to offer
// that user. The browse view implements it and sets `sharesForm` while it lives; callers above
// the chat views get the tab back, callers here only open it.
class ShareBrowser
{
public:
    virtual ~ShareBrowser() = default;
    // Brings the user's browse tab forward, asking for the user's share list when there is none.
    virtual ShareForm* OpenShareBrowse(QString i_user) = 0;
    // Opens the tab that offers our own shared files for upload to the user.
    virtual UploadForm* OpenUploadBrowse(QString i_user) = 0;
};

extern ShareBrowser* sharesForm;
