#pragma once
/// @file config_store.h
/// A node's configuration registers: values that configuration writes set, that
/// saving keeps across a reboot and that erasing returns to the factory values.

#include <cstdint>
#include <map>

namespace kinetra::sim {

/// Registers keyed by the command id that reads them, each holding the payload
/// word of its reply. Not thread-safe: a node uses it under its own lock.
class ConfigStore {
public:
    /// Adds (or redefines) a register with its factory value; live and saved
    /// values start as the factory value.
    void define(uint8_t key, uint64_t factory_word);
    /// Whether `key` names a register.
    bool has(uint8_t key) const;
    /// The live value; 0 for an unknown key.
    uint64_t word(uint8_t key) const;
    /// Sets the live value; unknown keys are ignored.
    void setWord(uint8_t key, uint64_t word);
    /// The saved value; 0 for an unknown key.
    uint64_t savedWord(uint8_t key) const;

    /// Saves every live value (what a reboot restores).
    void save();
    /// Returns live and saved values to the factory values.
    void erase();
    /// Reloads the saved values into the live ones, as a reboot does.
    void restoreSaved();

private:
    struct Register {
        uint64_t live = 0;
        uint64_t saved = 0;
        uint64_t factory = 0;
    };
    std::map<uint8_t, Register> registers_;
};

}  // namespace kinetra::sim
