// The one application object of Tavrol.exe.
#include "app/tavrol_app.h"

CTavrolApp theApp;
