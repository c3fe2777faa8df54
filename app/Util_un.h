// Where the program finds the files it is asked to open by name: next to the program first,
// then under the name itself.
#pragma once

#include <string>

// The folder of the running program with its trailing separator; empty before start-up and
// after shut-down.
extern std::string ProgramFolder;

// Computes ProgramFolder; module start-up calls it once before any window exists.
void InitProgramFolder();
// Empties ProgramFolder at module shut-down.
void DoneProgramFolder();

// ProgramFolder + name when that file exists, else the name itself when that file exists,
// else the empty string. Only files count, never folders.
std::string ResolveDataPath(const std::string& name);
