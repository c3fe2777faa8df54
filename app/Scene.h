// The scene the program runs: the start script and where it lies, its first run, and with
// --watch, running it again from scratch whenever one of its files is saved.
#pragma once

#include <functional>
#include <string>

class TForm;

// The start script's name: "Test.lua", or the script file given as the scene.
extern std::string StartScriptName;

// Takes the scene given on the command line, a folder that holds Test.lua or a script file: its
// folder becomes the working folder and SceneFolder. False, with one line for the user in
// *error, when there is no such scene or its folder cannot be entered.
bool EnterScene(const std::string& scene, std::string* error);

// Called with each new host before it runs the start script, when set (scene tests prepare
// their functions and the stepped clock there).
extern std::function<void()> BeforeStartScript;

// A fresh script host runs the start script; its error, if any, becomes the form's caption.
void StartScene(TForm& form);

// Watches the scene's folder (or, without a scene, the folder the start script was found in,
// else the working folder) from now on. A line on standard error says so when it cannot.
void WatchScene();
// Called on every tick before the frame. Once a burst of changes has settled (or half a second
// after it began, however busy the folder) and no script call is running, the scene starts
// again: a fresh interpreter, node tree and texture table, the old textures deleted, the caption
// back to "Main" before the script runs. Files the scene wrote itself do not count. A watched
// folder that goes and comes back is said on standard error, and entered again when it was the
// working folder.
void ReloadSceneWhenChanged();
void StopWatchingScene();
// With --watch, a start script that failed has its error (the message and the first lines of
// its traceback) drawn in a band across the bottom of the scene, over the nodes, until the
// scene starts again. Called after the nodes of each frame.
void DrawStartErrorBand();
