// kestrel --make-stick (kestrel-stick): a service stick from which a board's firmware starts
// Kestrel.efi without a shell. The image goes on a FAT stick (a mounted folder, or an image file
// for dd) as its default boot image, \EFI\BOOT\BOOTX64.EFI, and the tool's words beside it in
// \EFI\BOOT\kestrel.args, written with the tool's own joining of a command line and checked,
// before anything is written, to split back with the tool's own splitting into exactly the words
// given, each one the tool takes. See kestrel-stick(8).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Args: the stick maker's own words, without the program name or --make-stick. The exit status:
// 0 when the stick is laid out, 2 for a command line it refuses (nothing written), 1 when the
// stick could not be written (an image file is then as it was).
int MakeStick(const std::vector<std::string> &Args, FILE *Out, FILE *Err);
