// Everything the tool knows of the firmware interfaces.
#pragma once

#include "uefi/uefi_base.h"
#include "uefi/uefi_block_io.h"
#include "uefi/uefi_console.h"
#include "uefi/uefi_device_path.h"
#include "uefi/uefi_file.h"
#include "uefi/uefi_hob.h"
#include "uefi/uefi_shell.h"
#include "uefi/uefi_simple_file_system.h"
#include "uefi/uefi_system_table.h"
