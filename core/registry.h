// Registry access over the per-user key store, and the typed accessors of
// the settings key. Every accessor reads or writes one value; nothing is
// cached in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/text.h"

// The root every caller passes (the current user's store).
enum class RegistryRoot { CurrentUser };
constexpr RegistryRoot HKEY_CURRENT_USER_ROOT = RegistryRoot::CurrentUser;

// "Software\Norvane\Privasweep\Config"
const std::u16string& SettingsKey();
// "Software\Norvane\Privasweep"
extern const char16_t kRunStateKey[];

std::u16string ReadRegistryString(const std::u16string& keyPath, const std::u16string& valueName,
                                  const std::u16string& defaultText);
uint32_t ReadRegistryDword(const std::u16string& keyPath, uint32_t defaultValue, const std::u16string& valueName);
int WriteRegistryString(RegistryRoot root, const std::u16string& keyPath, const std::u16string& valueName,
                        const std::u16string& text, bool deleteValue);
int WriteRegistryDword(RegistryRoot root, const std::u16string& keyPath, const std::u16string& valueName,
                       uint32_t value, bool deleteValue);

void LoadSearchFolders(std::vector<std::u16string>& include, std::vector<std::u16string>& exclude);
// False when a value could not be written.
bool SaveSearchFolders(const std::vector<std::u16string>& include, const std::vector<std::u16string>& exclude);
void DeleteSearchFolders();

std::u16string GetPersonalInfoSetting();
std::u16string GetKindOfDocumentSetting();
std::u16string GetCryptPassword();
uint32_t GetUsePassword();
uint32_t GetUseCryptAlgorithm();
uint32_t GetChangeLetter();
uint32_t GetCryptAlgorithm();
uint32_t GetLogSaveLimitDay();
void SetUsePassword(uint32_t n);
void SetChangeLetter(uint32_t n);
void SetUseCryptAlgorithm(uint32_t n);
void DeleteUsePassword();
void DeleteCryptPassword();
