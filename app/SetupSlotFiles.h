#pragma once
// The setup slots of *SAV and *RCL as files in the program's settings folder, beside the kept
// output limits: setup-slot-<n>.json, each an ordinary setup file that the windows open too. A
// slot is written whole or not at all.

#include <QString>

#include "remote/SetupSlots.h"

namespace tq {

class SetupSlotFiles : public SetupSlots {
public:
    // `folder` is created when the first slot is written.
    explicit SetupSlotFiles(QString folder) : folder_(std::move(folder)) {}
    // The folder the program keeps its settings in.
    static QString ProgramFolder();

    std::optional<std::string> Load(int slot) override;
    void Save(int slot, const std::string& text) override;
    QString PathOf(int slot) const;

private:
    QString folder_;
};

}  // namespace tq
