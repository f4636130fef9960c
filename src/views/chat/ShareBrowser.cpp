#include "views/chat/ShareBrowser.h"

ShareBrowser* sharesForm = nullptr;
