// Where the program finds the files it is asked to open by name: in the scene's folder when a
// scene was given on the command line, else next to the program; then under the name itself.
#pragma once

#include <string>
#include <vector>

// The folder of the running program with its trailing separator; empty before start-up and
// after shut-down.
extern std::string ProgramFolder;
// The folder of the scene given on the command line, with its trailing separator, which is also
// the working folder; empty when none was given.
extern std::string SceneFolder;

// Computes ProgramFolder; module start-up calls it once before any window exists.
void InitProgramFolder();
// Empties ProgramFolder and SceneFolder at module shut-down.
void DoneProgramFolder();

// SceneFolder + name (ProgramFolder + name without a scene) when that file exists, else the
// name itself when that file exists, else the empty string. Only files count, never folders.
std::string ResolveDataPath(const std::string& name);
// True when ResolveDataPath found no file for the name but one of its places holds something
// else by that name (a device such as /dev/zero, a pipe, a folder): worth saying so rather than
// that nothing was found.
bool DataPathHoldsNoFile(const std::string& name);
// The places ResolveDataPath tries for the name, as a user can find them: the first as it is
// tried, the name itself with the working folder in front (unless that is the same place).
std::vector<std::string> DataPathPlaces(const std::string& name);
