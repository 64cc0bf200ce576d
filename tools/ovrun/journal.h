// The journal of a run's settings: before a run changes a key of Orvane.ini
// or WIN.INI, each key it may change is recorded with its value, or its
// absence, in a file beside them in the Windows directory, flushed to disk.
// The keys alone are put back, through the profile functions, so that what
// another program writes elsewhere in the files meanwhile stays; the
// journal goes only once that has succeeded and been flushed. A run that
// never got that far (killed, a power cut) leaves the journal, and the next
// ovrun puts the keys back from it.
#pragma once

#include <string>
#include <vector>

// The journal's name in the Windows directory.
extern const char kJournalFileName[];

// One key of a settings file of the Windows directory.
struct SettingKey {
    bool WinIni = false; // WIN.INI, else Orvane.ini
    std::string Section;
    std::string Key;
    // Put back at every end of the run; the others only when the run did
    // not end as it should (a request's keys stay, as the editor's do).
    bool Temporary = true;
};

// The whole value of the key, however long; false when it is absent.
bool ReadKey(const SettingKey& key, std::string* value);
// Writes the value (null: deletes the key); false when the file cannot be written.
bool WriteKey(const SettingKey& key, const char* value);

// Why a settings file of the Windows directory cannot be read although it
// exists (held open without sharing, no permission); empty when it can, or
// when there is none. A file that cannot be read is never taken for absent.
std::string UnreadableSettingsFile(const std::string& windowsDirectory);

class Journal {
  public:
    explicit Journal(const std::string& windowsDirectory);
    // Records the keys as they are and writes the journal to disk. False,
    // with the reason, when a file cannot be read or the journal written;
    // nothing was changed then.
    bool Begin(const std::vector<SettingKey>& keys, std::string* problem);
    // Puts back the keys (every one, or the temporary ones alone), flushes
    // the files and removes the journal. False with the reason when a key
    // could not be put back: the journal stays for the next run.
    bool Restore(bool everyKey, std::string* problem);
    bool Active() const { return active_; }

    // The journal left by an ended run, put back and removed: "" when there
    // was none, else the one line that says what was done. False with the
    // reason when it cannot be put back; the journal stays.
    bool Recover(std::string* said, std::string* problem);

  private:
    struct KeyBefore {
        SettingKey Where;            // the key
        bool Present = false;        // it was in the file
        std::string Value;           // its whole value when it was
        bool SectionPresent = false; // its section was, with keys or not
    };
    std::string Text() const;
    bool Parse(const std::string& text);
    bool PutBack(const KeyBefore& before, std::string* problem) const;
    bool PutBackLines(int file, std::string* problem) const;
    std::string FileNames(bool everyKey) const;

    std::string directory_;                // the Windows directory
    std::string path_;                     // the journal's file
    std::vector<KeyBefore> keys_;          // in the order they were recorded
    bool fileExisted_[2] = {false, false}; // Orvane.ini, WIN.INI
    std::string bytes_[2];                 // their bytes before the run
    long holder_ = 0;                      // the process that wrote the journal
    bool active_ = false;                  // the journal is on disk and not yet put back
};
