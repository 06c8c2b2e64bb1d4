#pragma once
// Where the programs keep their files for the operator's account: the
// settings folder (COM links, the window's settings), the data folder (the
// station log) and the folders searched for handset payload files. Each is
// worked out here alone, the platform's way: the base-directory variables
// on Linux, the profile folders on Windows.
#include <functional>
#include <string>
#include <vector>

namespace vantrel::platform {

// One environment variable's value, empty when it is unset. The programs
// read their own environment; tests hand in a table.
using Environment = std::function<std::string(const char* name)>;
std::string ProcessEnvironment(const char* name);

// $XDG_CONFIG_HOME/vantrel-downloader, else ~/.config/vantrel-downloader;
// %APPDATA%\vantrel-downloader on Windows.
std::string SettingsFolder(const Environment& env = ProcessEnvironment);

// $XDG_DATA_HOME/vantrel-downloader, else ~/.local/share/vantrel-downloader;
// %LOCALAPPDATA%\vantrel-downloader on Windows.
std::string DataFolder(const Environment& env = ProcessEnvironment);

// The folders searched for payload files after those the operator names,
// first to last: the data folder's "payloads", then (Linux) each folder of
// $XDG_DATA_DIRS (or /usr/local/share:/usr/share) with
// vantrel-downloader/payloads added. A home that cannot be found adds no
// folder: the fallback of the other folders, /tmp, is anybody's to fill.
std::vector<std::string> PayloadFolders(const Environment& env = ProcessEnvironment);

// How the help texts name `name` in the data folder, and the payload folders
// searched after --payload-dir (the environment variable first): the
// variables and their defaults on Linux, the profile folder on Windows, each
// in that system's own notation. Lines of text, without their ends.
std::vector<std::string> DataFolderWords(const std::string& name);
std::vector<std::string> SettingsFolderWords(const std::string& name);
std::vector<std::string> PayloadFolderWords();

// `name` inside `folder`, with the platform's separator.
std::string InFolder(const std::string& folder, const std::string& name);

// The characters that end a folder's name in a path: "/" here, "/\\" on
// Windows, which takes both.
const char* PathSeparators();

// The folder part of `path` (without its last separator); empty when the
// path names no folder or only the root.
std::string FolderOf(const std::string& path);

}  // namespace vantrel::platform
