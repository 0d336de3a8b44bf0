#include "kinetra_sim/config_store.h"

namespace kinetra::sim {

void ConfigStore::define(uint8_t key, uint64_t factory_word) {
    registers_[key] = Register{factory_word, factory_word, factory_word};
}

bool ConfigStore::has(uint8_t key) const { return registers_.count(key) != 0; }

uint64_t ConfigStore::word(uint8_t key) const {
    const auto found = registers_.find(key);
    return found == registers_.end() ? 0 : found->second.live;
}

void ConfigStore::setWord(uint8_t key, uint64_t word) {
    const auto found = registers_.find(key);
    if (found != registers_.end()) found->second.live = word;
}

uint64_t ConfigStore::savedWord(uint8_t key) const {
    const auto found = registers_.find(key);
    return found == registers_.end() ? 0 : found->second.saved;
}

void ConfigStore::save() {
    for (auto& entry : registers_) entry.second.saved = entry.second.live;
}

void ConfigStore::erase() {
    for (auto& entry : registers_) entry.second.live = entry.second.saved = entry.second.factory;
}

void ConfigStore::restoreSaved() {
    for (auto& entry : registers_) entry.second.live = entry.second.saved;
}

}  // namespace kinetra::sim
