#pragma once
// The Direct3D 9 extension runtime that the game needs, and Microsoft's web setup that brings it.
#include <string>

// The zip the download server offers and the size counted for it.
constexpr const char* kDirectXSetupZip = "dxwebsetup.zip";
constexpr unsigned kDirectXSetupZipSize = 255143;

// True when "d3dx9_36.dll" can be loaded.
bool IsDirectXPresent();
// Starts "dxwebsetup.exe" quietly ("/Q") in `directory`; true when it was launched.
bool StartDirectXSetup(const std::string& directory);
