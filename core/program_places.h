#pragma once

#include <filesystem>

namespace kestrix {

// Where an installation keeps the program, its private programs and its
// data. Empty members: this build was configured without such a layout.
struct InstallLayout {
    std::filesystem::path programDirectory;  // /usr/bin
    std::filesystem::path libraryDirectory;  // /usr/lib/kestrix: plug-in, updater, migration
    std::filesystem::path dataDirectory;     // /usr/share/kestrix: template, manual
};

// The layout this build installs into.
InstallLayout configuredLayout();

// Where a program started from programDirectory finds the rest of Kestrix.
struct ProgramPlaces {
    std::filesystem::path programDirectory;
    std::filesystem::path libraryDirectory;
    std::filesystem::path dataDirectory;
    // Started from the installed program directory: the files belong to the
    // system's package manager.
    bool installed = false;
};

// The installed layout when programDirectory is its program directory (the
// same directory under any name); otherwise everything beside the program,
// as in a build tree or a copied program directory.
ProgramPlaces programPlaces(const std::filesystem::path& programDirectory,
                            const InstallLayout& layout = configuredLayout());

// The directory of the program that a private program (the migration
// utility) started from privateDirectory belongs to: the installed program
// directory for the installed library directory, else the same directory.
std::filesystem::path programDirectoryOf(const std::filesystem::path& privateDirectory,
                                         const InstallLayout& layout = configuredLayout());

}  // namespace kestrix
