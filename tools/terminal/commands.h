// The orvik commands on the command line: each file of this folder adds its
// commands and their options, bound to the options of the operation they
// run (app/operations.h); RegisterCommands adds them all in the order
// `orvik --help` lists them.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>

#include "app/bus_timing_options.h"
#include "app/fault_options.h"
#include "terminal/command_table.h"

namespace orvik::tool {

void RegisterCommands(CommandTable& table, CLI::App& app);

// --- the player: info, blocks, backup, verify --------------------------------
void RegisterInfoCommand(CommandTable& table, CLI::App& app);
void RegisterBlocksCommand(CommandTable& table, CLI::App& app);
void RegisterBackupCommand(CommandTable& table, CLI::App& app);
void RegisterRestoreCommand(CommandTable& table, CLI::App& app);
void RegisterVerifyCommand(CommandTable& table, CLI::App& app);
void RegisterCheckCommands(CommandTable& table, CLI::App& app);
// `orvik gui`: the same on a local web page (tools/web).
void RegisterGuiCommand(CommandTable& table, CLI::App& app);

// --- firmware and formats: versions, update, reflash; quick-format,
// full-format, erase-data -----------------------------------------------------
void RegisterVersionsCommand(CommandTable& table, CLI::App& app);
void RegisterUpdateCommands(CommandTable& table, CLI::App& app);
void RegisterFormatCommands(CommandTable& table, CLI::App& app);

// --- the card and the reservation --------------------------------------------
void RegisterCardCommands(CommandTable& table, CLI::App& app);
void RegisterReserveCommand(CommandTable& table, CLI::App& app);

// --- trust and history: `orvik manifest` (keygen, hash, sign, verify) and
// `orvik history` ----------------------------------------------------------------
void RegisterManifestCommands(CommandTable& table, CLI::App& app);
void RegisterHistoryCommand(CommandTable& table, CLI::App& app);

// --reserve KB of the commands that lay the flash out (reflash, full-format).
void AddReserveOption(CLI::App& command, std::optional<uint32_t>& kiloBytes);
// The fault and bus timing options of `orvik sim create` and `orvik sim faults`.
void AddFaultOptions(CLI::App& command, FaultOptions& faults);
void AddBusTimingOptions(CLI::App& command, BusTimingOptions& options);

// --- simulated players: `orvik sim` and its commands ---------------------------
void RegisterSimCommands(CommandTable& table, CLI::App& app);
// Under `sim`: create; serve; replug; (faults, mode and info beside the group);
// inspect, export-fat, ecc, files.
void RegisterSimCreateCommand(CommandTable& table, CLI::App& sim);
void RegisterSimServeCommand(CommandTable& table, CLI::App& sim);
void RegisterSimInspectCommands(CommandTable& table, CLI::App& sim);

}  // namespace orvik::tool
