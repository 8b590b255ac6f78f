#include "host/stick_maker.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <linux/magic.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/command_line.h"
#include "hosted/descriptor.h"
#include "hosted/text.h"
#include "shell/boot_arguments.h"

namespace {

constexpr const char *Usage =
    "usage: kestrel-stick [--efi IMAGE] [--size MiB] TARGET -- TOOL-OPTIONS...";
constexpr unsigned long DefaultSizeMiB = 64;
constexpr unsigned long MaxSizeMiB = 65536;
constexpr int Refused = 2;
constexpr int NotWritten = 1;
// What a PE32+ image says of itself: machine x86-64, an optional header of the 64-bit kind, and
// the subsystem of an EFI application.
constexpr uint16_t PeMachineX64 = 0x8664;
constexpr uint16_t PeOptionalMagic64 = 0x20B;
constexpr uint16_t EfiApplicationSubsystem = 10;
constexpr size_t PeOffsetField = 0x3C;
constexpr size_t SubsystemInOptionalHeader = 68;
constexpr size_t OptionalHeaderInPe = 24;

int Say(FILE *Err, const std::string &Text, int Status) {
  fprintf(Err, "kestrel-stick: %s\n", Shown(Text).c_str());
  return Status;
}

struct StickOptions {
  std::string Efi;
  unsigned long SizeMiB = DefaultSizeMiB;
  std::string Target;
  std::vector<std::string> Words;
};

bool ParseStickOptions(const std::vector<std::string> &Args, StickOptions *Options,
                       std::string *Error) {
  size_t I = 0;
  std::string Size;
  for (; I < Args.size() && Args[I] != "--"; I++) {
    const std::string &Arg = Args[I];
    std::string *Value = Arg.rfind("--efi", 0) == 0    ? &Options->Efi
                         : Arg.rfind("--size", 0) == 0 ? &Size
                                                       : nullptr;
    const std::string Name = Value == &Options->Efi ? "--efi" : "--size";
    if (Value != nullptr && (Arg == Name || Arg.rfind(Name + "=", 0) == 0)) {
      if (Arg == Name && I + 1 >= Args.size()) {
        *Error = Name + " needs a value";
        return false;
      }
      *Value = Arg == Name ? Args[++I] : Arg.substr(Name.size() + 1);
    } else if (Arg.rfind("-", 0) == 0 || !Options->Target.empty()) {
      *Error = Arg.rfind("-", 0) == 0 ? "unknown option " + Arg : "one TARGET only";
      return false;
    } else {
      Options->Target = Arg;
    }
  }
  if (Options->Target.empty() || I >= Args.size()) {
    *Error = Options->Target.empty() ? "no TARGET" : "no '--' before the tool's options";
    return false;
  }
  Options->Words.assign(Args.begin() + static_cast<long>(I) + 1, Args.end());
  if (Options->Words.empty()) {
    *Error = "no tool options after --";
    return false;
  }
  if (!Size.empty()) {
    char *End = nullptr;
    errno = 0;
    Options->SizeMiB = Size.find_first_not_of("0123456789") == std::string::npos
                           ? strtoul(Size.c_str(), &End, 10)
                           : 0;
    if (errno != 0 || Options->SizeMiB < 1 || Options->SizeMiB > MaxSizeMiB) {
      *Error = "--size " + Size + " is not a number of MiB from 1 to " + std::to_string(MaxSizeMiB);
      return false;
    }
  }
  return true;
}

// The installed image beside this program: PREFIX/share/kestrel/Kestrel.efi of its PREFIX.
std::string InstalledImage() {
  std::string Self(PATH_MAX, '\0');
  ssize_t Length = readlink("/proc/self/exe", Self.data(), Self.size());
  if (Length <= 0)
    return "Kestrel.efi";
  Self.resize(static_cast<size_t>(Length));
  return Self.substr(0, Self.rfind('/')) + "/../share/kestrel/Kestrel.efi";
}

bool ReadWhole(const std::string &Path, std::string *Bytes) {
  std::ifstream File(Path, std::ios::binary);
  std::ostringstream Text;
  Text << File.rdbuf();
  *Bytes = Text.str();
  return File.good() || File.eof();
}

uint32_t Le(const std::string &Bytes, size_t At, size_t Width) {
  uint32_t Value = 0;
  for (size_t I = 0; I < Width; I++)
    Value |= static_cast<uint32_t>(static_cast<uint8_t>(Bytes[At + I])) << (8 * I);
  return Value;
}

// Why Bytes are not an x86-64 EFI application, or "" when they are.
std::string NotAnEfiApplication(const std::string &Bytes) {
  if (Bytes.size() < PeOffsetField + 4 || Bytes.compare(0, 2, "MZ") != 0)
    return "is not a PE image";
  const size_t Pe = Le(Bytes, PeOffsetField, 4);
  const size_t Optional = Pe + OptionalHeaderInPe;
  if (Pe > Bytes.size() || Bytes.size() - Pe < OptionalHeaderInPe + SubsystemInOptionalHeader + 2 ||
      Bytes.compare(Pe, 4, std::string("PE\0\0", 4)) != 0)
    return "is not a PE image";
  if (Le(Bytes, Pe + 4, 2) != PeMachineX64 || Le(Bytes, Optional, 2) != PeOptionalMagic64)
    return "is not an x86-64 image";
  if (Le(Bytes, Optional + SubsystemInOptionalHeader, 2) != EfiApplicationSubsystem)
    return "is not an EFI application";
  return "";
}

// The arguments file that carries Words, as the tool reads it back: written with the tool's own
// joining, then split with its own splitting, which must give exactly Words; each word one the
// tool takes. Why it cannot be, otherwise.
bool ArgumentsFileFor(const std::vector<std::string> &Words, std::string *Bytes, std::string *Why) {
  std::vector<std::u16string> Wide;
  for (const std::string &Word : Words) {
    std::u16string Text;
    const std::string Said = "the tool option \"" + Word + "\" ";
    if (Word.find_first_of("\r\n") != std::string::npos) {
      *Why = Said + "holds a line end: an arguments file holds one line";
      return false;
    }
    if (!DecodeUtf8Argument(Word, &Text)) {
      *Why = Said + "is not UTF-8 text of characters up to U+FFFF";
      return false;
    }
    CHAR16 Line[MaxBootArgumentsBytes + 1];
    if (ArgumentsFileLine(reinterpret_cast<const UINT8 *>(Word.data()), Word.size(), Line,
                          MaxBootArgumentsBytes) != ArgumentsFileFault::None) {
      *Why = Said + "holds a character the arguments file cannot carry";
      return false;
    }
    Wide.push_back(Text);
  }
  std::vector<std::u16string> Parsed = {u"Kestrel.efi"};
  Parsed.insert(Parsed.end(), Wide.begin(), Wide.end());
  std::vector<CHAR16 *> Argv;
  for (std::u16string &Word : Parsed)
    Argv.push_back(Word.data());
  CliOptions Options{};
  ParseCommandLine(Argv.size(), Argv.data(), &Options);
  if (Options.FirstUnknownIndex != 0) {
    *Why = "the tool option \"" + Words[Options.FirstUnknownIndex - 1] +
           "\" is not one Kestrel.efi takes";
    return false;
  }
  std::vector<const CHAR16 *> Pointers;
  for (const std::u16string &Word : Wide)
    Pointers.push_back(Word.c_str());
  std::u16string Line(MaxBootArgumentsBytes, u'\0');
  const std::string TooLong = "the command line is longer than an arguments file's " +
                              std::to_string(MaxBootArgumentsBytes) + " bytes";
  if (!JoinCommandLine(Pointers.data(), Pointers.size(), Line.data(), MaxBootArgumentsBytes)) {
    *Why = TooLong;
    return false;
  }
  *Bytes = EncodeUtf8(Line.c_str()) + "\r\n";
  if (Bytes->size() > MaxBootArgumentsBytes) {
    *Why = TooLong;
    return false;
  }
  // The firmware side's reading, word for word.
  std::u16string Back(MaxBootArgumentsBytes + 1, u'\0');
  std::vector<CHAR16 *> Split(Wide.size() + 1);
  const bool Same =
      ArgumentsFileLine(reinterpret_cast<const UINT8 *>(Bytes->data()), Bytes->size(), Back.data(),
                        MaxBootArgumentsBytes) == ArgumentsFileFault::None &&
      SplitCommandLine(Back.data(), Split.data(), Split.size()) == Wide.size() && [&] {
        for (size_t I = 0; I < Wide.size(); I++)
          if (Wide[I] != Split[I])
            return false;
        return true;
      }();
  if (!Same)
    *Why = "the tool options would not read back from the arguments file as given";
  return Same;
}

// Whether Folder is on a FAT file system, as a board's firmware boots from: the kernel's own, or
// a FUSE one whose type names FAT.
bool OnFat(const std::string &Folder, std::string *Type) {
  struct statfs Info;
  if (statfs(Folder.c_str(), &Info) != 0) {
    *Type = strerror(errno);
    return false;
  }
  if (Info.f_type == MSDOS_SUPER_MAGIC)
    return true;
  char Real[PATH_MAX];
  if (realpath(Folder.c_str(), Real) == nullptr)
    return false;
  // The mount that holds the folder: the longest mount point that leads to it.
  std::ifstream Mounts("/proc/self/mountinfo");
  std::string Line, Best, BestType;
  while (std::getline(Mounts, Line)) {
    std::istringstream Fields(Line);
    std::string Id, Parent, Device, Root, Point, Field;
    Fields >> Id >> Parent >> Device >> Root >> Point;
    while (Fields >> Field && Field != "-") {
    }
    std::string FsType;
    Fields >> FsType;
    const std::string Path = Real;
    if ((Path == Point || Path.rfind(Point == "/" ? Point : Point + "/", 0) == 0) &&
        Point.size() >= Best.size()) {
      Best = Point;
      BestType = FsType;
    }
  }
  *Type = BestType.empty() ? "unknown" : BestType;
  return BestType.find("fat") != std::string::npos || BestType == "msdos";
}

// Bytes written whole to Name in Folder: a temporary beside it, synced, renamed over it.
bool PutFile(const std::string &Folder, const std::string &Name, const std::string &Bytes,
             std::string *Why) {
  const std::string Temporary = Folder + "/.kestrel-stick.tmp", Path = Folder + "/" + Name;
  Descriptor Fd(
      open(Temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
  bool Ok = Fd.Valid() &&
            write(Fd.Get(), Bytes.data(), Bytes.size()) == static_cast<ssize_t>(Bytes.size()) &&
            fsync(Fd.Get()) == 0;
  Ok = Fd.Close() && Ok && rename(Temporary.c_str(), Path.c_str()) == 0;
  if (!Ok) {
    *Why = "cannot write " + Path + ": " + strerror(errno);
    unlink(Temporary.c_str());
  }
  return Ok;
}

bool MakeFolder(const std::string &Path, std::string *Why) {
  if (mkdir(Path.c_str(), 0755) == 0 || errno == EEXIST)
    return true;
  *Why = "cannot make " + Path + ": " + strerror(errno);
  return false;
}

// Program with Args, its output dropped; false with its last line of errors in Why.
bool RunProgram(const std::vector<std::string> &Args, std::string *Why) {
  int Pipe[2];
  if (pipe2(Pipe, O_CLOEXEC) != 0) {
    *Why = strerror(errno);
    return false;
  }
  pid_t Child = fork();
  if (Child == 0) {
    int Null = open("/dev/null", O_RDWR);
    dup2(Null, STDIN_FILENO);
    dup2(Null, STDOUT_FILENO);
    dup2(Pipe[1], STDERR_FILENO);
    std::vector<char *> Argv;
    for (const std::string &Arg : Args)
      Argv.push_back(const_cast<char *>(Arg.c_str()));
    Argv.push_back(nullptr);
    execvp(Argv[0], Argv.data());
    dprintf(STDERR_FILENO, "%s is not installed (packages dosfstools, mtools)\n", Argv[0]);
    _exit(127);
  }
  close(Pipe[1]);
  std::string Errors;
  char Chunk[512];
  for (ssize_t N; (N = read(Pipe[0], Chunk, sizeof(Chunk))) > 0;)
    Errors.append(Chunk, static_cast<size_t>(N));
  close(Pipe[0]);
  int Status = 0;
  if (Child < 0 || waitpid(Child, &Status, 0) != Child || !WIFEXITED(Status) ||
      WEXITSTATUS(Status) != 0) {
    while (!Errors.empty() && Errors.back() == '\n')
      Errors.pop_back();
    *Why = Args[0] + " failed" +
           (Errors.empty() ? std::string() : ": " + Errors.substr(Errors.rfind('\n') + 1));
    return false;
  }
  return true;
}

// The stick as an image file: made or changed in a temporary beside it and put in its place
// whole, so that a failure leaves the image as it was, and no image that is half made.
bool PutImage(const StickOptions &Options, const std::string &Efi, const std::string &Args,
              bool Exists, std::string *Why) {
  std::string Temporary = Options.Target + ".kestrel-XXXXXX";
  Descriptor Fd(mkostemp(Temporary.data(), O_CLOEXEC));
  if (!Fd.Valid()) {
    *Why = "cannot make a temporary beside " + Options.Target + ": " + strerror(errno);
    return false;
  }
  std::string Old;
  const std::string ArgsFile = Temporary + ".args", EfiFile = Temporary + ".efi";
  bool Ok = true;
  if (Exists) {
    Ok = ReadWhole(Options.Target, &Old) &&
         write(Fd.Get(), Old.data(), Old.size()) == static_cast<ssize_t>(Old.size());
    if (!Ok)
      *Why = "cannot copy " + Options.Target;
  } else {
    unlink(Temporary.c_str());
    Ok = RunProgram({"mkfs.fat", "-C", Temporary, std::to_string(Options.SizeMiB * 1024)}, Why);
  }
  Fd.Reset();
  for (const auto &[Path, Bytes] : {std::pair{ArgsFile, &Args}, std::pair{EfiFile, &Efi}}) {
    std::ofstream File(Path, std::ios::binary | std::ios::trunc);
    Ok = Ok && File.write(Bytes->data(), static_cast<std::streamsize>(Bytes->size())).good();
  }
  if (!Ok && Why->empty())
    *Why = "cannot write beside " + Options.Target;
  if (Ok) {
    RunProgram({"mmd", "-D", "s", "-i", Temporary, "::/EFI", "::/EFI/BOOT"}, Why);
    Ok = RunProgram({"mcopy", "-o", "-i", Temporary, EfiFile, "::/EFI/BOOT/BOOTX64.EFI"}, Why) &&
         RunProgram({"mcopy", "-o", "-i", Temporary, ArgsFile, "::/EFI/BOOT/kestrel.args"}, Why);
  }
  unlink(ArgsFile.c_str());
  unlink(EfiFile.c_str());
  // A new image never goes over a file that appeared meanwhile; a changed one replaces the old.
  if (Ok && !Exists)
    Ok = link(Temporary.c_str(), Options.Target.c_str()) == 0;
  else if (Ok)
    Ok = rename(Temporary.c_str(), Options.Target.c_str()) == 0;
  if (!Ok && Why->empty())
    *Why = "cannot put " + Options.Target + " in place: " + strerror(errno);
  unlink(Temporary.c_str());
  return Ok;
}

} // namespace

int MakeStick(const std::vector<std::string> &Args, FILE *Out, FILE *Err) {
  StickOptions Options;
  std::string Why;
  if (!ParseStickOptions(Args, &Options, &Why))
    return Say(Err, Why + " (" + Usage + ")", Refused);
  if (Options.Efi.empty())
    Options.Efi = InstalledImage();
  std::string Efi, ArgsFile;
  struct stat Info;
  if (stat(Options.Efi.c_str(), &Info) != 0 || !S_ISREG(Info.st_mode) ||
      !ReadWhole(Options.Efi, &Efi))
    return Say(Err, "no image at " + Options.Efi + " (give it with --efi)", Refused);
  if (std::string Not = NotAnEfiApplication(Efi); !Not.empty())
    return Say(Err, Options.Efi + " " + Not + ", not an x86-64 EFI application", Refused);
  if (!ArgumentsFileFor(Options.Words, &ArgsFile, &Why))
    return Say(Err, Why + "; nothing was written", Refused);
  const bool Exists = stat(Options.Target.c_str(), &Info) == 0;
  if (Exists && S_ISDIR(Info.st_mode)) {
    std::string Type;
    if (!OnFat(Options.Target, &Type))
      return Say(Err,
                 Options.Target + " is on a file system of type " + Type +
                     ", not FAT, which a board's firmware boots from",
                 Refused);
    const std::string Boot = Options.Target + "/EFI/BOOT";
    if (!MakeFolder(Options.Target + "/EFI", &Why) || !MakeFolder(Boot, &Why) ||
        !PutFile(Boot, "BOOTX64.EFI", Efi, &Why) || !PutFile(Boot, "kestrel.args", ArgsFile, &Why))
      return Say(Err, Why, NotWritten);
    sync();
  } else if (Exists && !S_ISREG(Info.st_mode)) {
    return Say(Err, Options.Target + " is neither a folder nor an image file", Refused);
  } else if (!PutImage(Options, Efi, ArgsFile, Exists, &Why)) {
    return Say(Err, Why + "; " + Options.Target + (Exists ? " is as it was" : " was not made"),
               NotWritten);
  }
  std::string Line = ArgsFile.substr(0, ArgsFile.size() - 2);
  fprintf(Out, "kestrel-stick: %s boots %s with: %s\n", Shown(Options.Target).c_str(),
          Shown(Options.Efi.substr(Options.Efi.rfind('/') + 1)).c_str(), Shown(Line).c_str());
  return fflush(Out) == 0 ? 0 : NotWritten;
}
