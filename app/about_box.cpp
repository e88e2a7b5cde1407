#include "app/about_box.h"

#include "res/resource.h"

// Everything is in the template; OK and the system menu's Close end the box.
CAboutBox::CAboutBox() : win::Dialog(IDD_ABOUTBOX) {}
