// The one set of callbacks into the main window that the script functions use.
#include "script/SceneWindow.h"

TSceneWindow SceneWindow;
