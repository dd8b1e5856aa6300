// Where the installed program finds its files, and where the user's own live. The shipped asset
// set is read-only and found relative to the executable, so any install prefix works; the
// options file is the user's, under $XDG_CONFIG_HOME. Nothing here writes into the prefix.
#pragma once

#include <string>

constexpr const char kAssetFolderName[] = "vis_halcyonsphere_assets";

// The folder the running executable lies in, symbolic links resolved; "" when it cannot be read.
std::string executable_folder();

// Where the shipped asset set lies for an executable in exe_folder, in the order looked at: the
// installed layout (<bindir>/../<datadir>/halcyonsphere/...), then the build tree's, beside it.
std::string installed_asset_folder(const std::string &exe_folder);
std::string build_tree_asset_folder(const std::string &exe_folder);

// The asset folder a run reads: user_folder (--assets DIR) when given, else the shipped set.
// False with one line when it is not a folder that can be read.
bool choose_asset_folder(const char *user_folder, std::string *folder, std::string *error);
// The same with no user folder, in the shape check-assets takes.
bool shipped_asset_folder(std::string *folder, std::string *error);

// The program's folder of the user's configuration: $XDG_CONFIG_HOME/halcyonsphere, or
// $HOME/.config/halcyonsphere when that is unset or relative (the XDG rule), with the account's
// home folder (passwd) for a missing or relative HOME. "" with one line when there is no home.
std::string user_config_folder(const char *xdg_config_home, const char *home, const char *account_home,
                               std::string *error);

// config_folder/useropt.cfg, made first with the plug-in's defaults when missing (the folders
// 0700, as XDG asks; the file through a temporary name, so a crash never leaves half a file).
// An existing file is kept as it is, whatever it holds. False with one line.
bool ensure_options_file(const std::string &config_folder, std::string *path, std::string *error);

// Both for this process: its environment and its account.
bool user_options_file(std::string *path, std::string *error);
