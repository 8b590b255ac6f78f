// Files by name for the tool: through UEFI Shell 2.0's own file functions (names relative to the
// shell's current folder, mappings such as fs1: included), or, under a shell without them (the
// EFI 1.1 shell), on the volume the image itself was loaded from, named from its root. Reads,
// writes and the rest go through ShellFileOps, which fits either kind of handle.
#pragma once

#include "uefi/uefi.h"

enum class ShellFileMode {
  Read,      // an existing file, for reading
  CreateNew, // a file that must not exist yet, for writing
  Append,    // an existing or new file, for writing at its end
  Update,    // an existing file, for reading and writing anywhere in it
};

// An open file owned by the scope that holds it: closed when that scope is left, unless Close
// (which gives the close's own status: a file system may write a file's last data only then) or
// Delete came first. It stands for its handle wherever the file operations take one.
class ShellFile {
public:
  ShellFile() = default;
  ~ShellFile() { Close(); }
  ShellFile(const ShellFile &) = delete;
  ShellFile &operator=(const ShellFile &) = delete;
  operator SHELL_FILE_HANDLE() const { return Handle; }
  EFI_STATUS Close();
  // Closes the file and removes it.
  EFI_STATUS Delete();

private:
  friend EFI_STATUS OpenShellFile(const CHAR16 *Path, ShellFileMode Mode, ShellFile *File);
  SHELL_FILE_HANDLE Handle = nullptr;
};

// Opens Path in Mode. CreateNew gives EFI_ACCESS_DENIED, having left the file alone, when Path
// exists (see ShellFileExists for telling that apart). Append leaves the position at the end.
EFI_STATUS OpenShellFile(const CHAR16 *Path, ShellFileMode Mode, ShellFile *File);
// The root folder of the volume Image was loaded from; the caller closes it.
EFI_STATUS OpenVolumeOfImage(const EFI_LOADED_IMAGE_PROTOCOL *Image, EFI_FILE_PROTOCOL **Root);
// Whether Path is taken: a file that can be opened for reading, or anything else under the name
// that the file system refuses to open (EFI_ACCESS_DENIED, EFI_SECURITY_VIOLATION).
bool ShellFileExists(const CHAR16 *Path);

// Whole transfers: every byte or an error. A read that ends early gives EFI_END_OF_FILE; a
// write the file system takes only in part gives its status, or EFI_VOLUME_FULL when it had none.
EFI_STATUS ReadShellFileExactly(SHELL_FILE_HANDLE File, VOID *Buffer, UINTN Size);
EFI_STATUS WriteShellFileExactly(SHELL_FILE_HANDLE File, const VOID *Buffer, UINTN Size);

// The room left on the volume that holds File, as its file system reports it (EFI_FILE_SYSTEM_INFO
// through the handle). Known is false when the file system does not say, or reports its whole
// volume free: a file system that cannot account for its own files cannot promise a new one room.
struct VolumeRoom {
  bool Known;
  bool ReadOnly;
  UINT64 Free;
  UINT32 Unit; // the allocation unit in bytes, 1 when not reported
};
VolumeRoom AskVolumeRoom(SHELL_FILE_HANDLE File);
// Whether a file of Size bytes can grow by Added bytes on a volume with Room: the whole units the
// growth takes beyond those the file holds already must be free. An unknown room fits.
bool FitsVolume(const VolumeRoom &Room, UINT64 Size, UINT64 Added);
