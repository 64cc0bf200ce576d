// What the editor and the launcher agree on: the settings file and its
// sections and keys, in the order they are written, the editor's marker,
// the byte that stands for a line feed in a stored message, and the engine
// library's file name. The launcher, the stand-in and the tools all spell
// them from here.
#pragma once

// The settings file, in the Windows directory.
constexpr char kSettingsFileName[] = "Orvane.ini";
// The engine library, beside the launcher.
constexpr char kEngineLibraryName[] = "OV553KRN.DLL";

// The request: section [TEST], keys in the order the editor writes them.
constexpr char kTestSection[] = "TEST";
constexpr int kRequestKeyCount = 6;
constexpr const char* kRequestKeys[kRequestKeyCount] = {"LIGNEDECOMMANDE", "COMMANDE", "REPEXE",
                                                        "REPCOURANT",      "PARAM1",   "PARAM2"};
enum RequestKey { kCommandLine, kCommand, kExecutableDirectory, kCurrentDirectory, kParam1, kParam2 };
// COMMANDE's value when the editor started the launcher.
constexpr char kEditorMarker[] = "EDITEUR";

// The product's section: LANGUAGE in Orvane.ini, and LIGNEDECOMMANDE in
// WIN.INI while a test runs.
constexpr char kProductSection[] = "Orvane55";
constexpr char kLanguageKey[] = "LANGUAGE";

// The installed components: section [COMPOSANTE], keys COMPOSANTE_0 to
// COMPOSANTE_9, each "name,text,number".
constexpr char kComponentSection[] = "COMPOSANTE";
constexpr int kComponentKeyCount = 10;

// The error report, section [TEST], keys in the order the launcher writes them.
constexpr int kReportKeyCount = 8;
constexpr const char* kReportKeys[kReportKeyCount] = {"CR",      "NLIGNE", "NCOL",     "NOMPROC",
                                                      "MESSAGE", "NOMFEN", "NOMOBJET", "TYPEOBJET"};
enum ReportKey { kCr, kLine, kColumn, kProcedure, kMessage, kWindow, kObject, kObjectType };
// A line feed of MESSAGE is stored as this byte.
constexpr unsigned char kStoredLineFeed = 0xF5;
