#pragma once

#include <string>

// Where the resolver program and what it reads are found, read from the environment the
// service started with: the program itself on PATH, the user's own yt-dlp configuration, the
// temporary folder.
namespace ResolverProgram
{
// $TMPDIR, else /tmp.
std::string TemporaryRoot();
// The user's own configuration file, where yt-dlp looks for it (its manual's "User
// Configuration", first found wins); empty when there is none.
std::string UserConfiguration();
// A program named by a relative path, made absolute: every run starts in a folder of its own.
std::string Absolute(const std::string& program);
// False with the reason when the program cannot be run from here.
bool Found(const std::string& program, std::string& reason);
} // namespace ResolverProgram
