// Text between the tool and Linux: the UCS-2 the shell's interfaces carry and the UTF-8 of Linux
// names, arguments and terminals, and the one place the front end's warnings go.
#pragma once

#include <cstdio>
#include <string>

// One UCS-2 character as UTF-8, appended to Out.
void AppendUtf8(char16_t C, std::string *Out);
// UCS-2 text (a file name the tool was given) as the UTF-8 a Linux path is.
std::string EncodeUtf8(const char16_t *Text);

// A command-line argument from UTF-8 into the UCS-2 a shell hands over. False for bytes that are
// not UTF-8 and for characters beyond UCS-2.
bool DecodeUtf8Argument(const std::string &Text, std::u16string *Wide);

// Text as it may reach a terminal: control characters (C0, DEL, C1) and bytes that are not UTF-8
// shown as \xHH escapes, so that a name or a value can never steer the terminal it is shown on.
std::string Shown(const std::string &Text);

// "kestrel: Text" on Stream (Text as Shown), standard error unless the caller has its own: a
// warning, a refusal, or a failure said once with the system's reason.
void Warn(const std::string &Text, FILE *Stream = stderr);
