// What the orvik host tool takes from the library beyond orvik/orvik.h.
//
// The tool is linked with the library itself (orvik_core) and shows a user
// what the public header keeps to itself: the flash geometry behind a type
// index, the block table the last scan left, the raw pages of a block, why
// an update was refused, and what the firmware files on a disk hold before
// they go to a player.  This header is the whole of that view: tools/
// includes nothing else from src/.  Everything here is a name of the
// library's own (so the tool cannot drift from it) or a small reader over
// the library's state that the exports hold; none of it is an export, and
// none of it changes the player.
//
// Keep it narrow: a name goes here when the tool would otherwise have to
// copy the library's knowledge.  The internal headers included below are an
// implementation detail of this header.
#pragma once

#include <cstdint>
#include <span>

#include "api/program_media.h"
#include "firmware/file_preparation.h"
#include "firmware/file_set.h"
#include "firmware/file_sizes.h"
#include "firmware/srecord_image.h"
#include "firmware/srecord_record.h"
#include "firmware/version_words.h"
#include "media/block_eraser.h"
#include "media/block_status.h"
#include "media/format_layout.h"
#include "media/system_area.h"
#include "media/update_recovery.h"
#include "media/volume_block.h"
#include "orvik/orvik.h"
#include "platform/device_driver.h"
#include "platform/registry_export.h"
#include "protocol/byte_order.h"
#include "protocol/command_frame.h"
#include "protocol/device_queries.h"
#include "protocol/flash_commands.h"
#include "protocol/flash_identification.h"
#include "protocol/flash_types.h"
#include "protocol/media_state.h"

namespace orvik::host {

// --- Flash geometry: the 36 types and how a chip or card maps to one.
using protocol::FirstZoneBlocks;
using protocol::FlashTypeDescriptor;
using protocol::FlashTypeFor;
using protocol::FlashTypeForIdentification;
using protocol::kFlashTypes;

// --- On-flash marks: the redundant-area bytes of system pages, and the
// states of the block table.
using media::BLOCK_BAD;
using media::BLOCK_CIS;
using media::BLOCK_FORMAT_USED;
using media::BLOCK_GOOD;
using media::BLOCK_SYSTEM;
using media::LOW_SYSTEM_BLOCKS;
using protocol::FILE_MARK;
using protocol::GetLittleEndian16;
using protocol::kSpareBlockStatus;
using protocol::kSpareDataStatus;
using protocol::SpareAddressWord;
using protocol::SYSTEM_MARK;

// --- The state the last scan (or version query) left for drive 0; nullptr
// before the library has any.  Valid until the next call that scans,
// formats, programs or frees the drive's buffers.
using protocol::DriveMediaState;
const DriveMediaState* ScannedDrive();

// Reads `count` raw pages (data and redundant bytes) of a block of drive 0
// into the drive's page buffer and returns them there; empty when the read
// fails or no scan has given the drive a page buffer.  Valid until the next
// page transfer.
std::span<const uint8_t> ReadRawPages(const FlashTypeDescriptor& type, uint32_t block,
                                      uint32_t page, uint32_t count);

// --- Writing the volume back (a restore): the host picks the blocks, the
// library writes them as the quick format writes its sectors.  Both take
// the global lock and work on drive 0's scanned type; the host's block
// table is its own (the library's is not changed).
using media::EraseResult;
using media::VolumeBlockResult;
// Erases one block, invalidating it on the flash when it cannot be erased.
EraseResult EraseVolumeBlock(uint32_t block);
// media::WriteVolumeBlock on drive 0.
VolumeBlockResult WriteVolumeBlock(uint32_t block, uint16_t logicalField, const uint8_t* sectors,
                                   uint32_t sectorCount);
// The volume a quick format would write, to tell before a reflash whether
// a backup of today's volume fits the one it leaves.
using media::BuildBootSector;
using media::BuildMasterBootRecord;
using media::PartitionSectors;
using media::ReservedSectors;

// --- The firmware update: why it refuses, and the update with options.
using api::ProgramMedia;
using api::ProgramOptions;
using media::SystemAreaAssessment;
using media::SystemAreaVerdict;
// media::AssessSystemArea on drive 0, as the exports hand it down.
SystemAreaAssessment AssessSystemArea();

// --- Firmware files: conversion, version words and sizes, as the
// programming exports read them.
using firmware::BlockRoundedFileSize;
using firmware::ConversionResult;
using firmware::ConvertSRecordImage;
using firmware::FindRecordStart;
using firmware::FrameRecord;
using firmware::kConversionSlackBytes;
using firmware::kVersionRecordCount;
using firmware::kVersionTrailerBytes;
using firmware::PaddedFileSize;
using firmware::PreparedFile;
using firmware::PreparedFileSet;
using firmware::PrepareFiles;
using firmware::PrepareStatus;
using firmware::ReadSRecordVersion;
using firmware::ReadVersionTrailer;
using firmware::SRecordError;
using firmware::TagForMarker;
using firmware::VersionWords;

// --- The player's description, read through the exported transfers.
using protocol::CMD_GET_DEVICE_INFO;
using protocol::DeviceInfoItemCount;
using protocol::DeviceInfoTag;
using protocol::DeviceInfoValue;
using protocol::kDeviceInfoLength;
using protocol::PutWord24;

// --- The player's device objects.
using os::kDeviceObjectPrefix;
using os::kRecoveryObjectPrefix;

// --- The registry reservation: where it lives and its export files.
using os::FormatReservationExport;
using os::kReservationKey;
using os::kReservationSubKey;
using os::kReservationValue;
using os::QueryRegistryExport;
using os::ReservationFilePath;

}  // namespace orvik::host
