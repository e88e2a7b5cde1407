// CAboutBox: the About box of the hidden frame (template 100).
#pragma once

#include "win/dialog.h"

class CAboutBox : public win::Dialog {
public:
    CAboutBox();
};
