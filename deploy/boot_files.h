#pragma once
// The files the card's boot chain reads from its boot volume: stage 1.5 loads
// stage 2, which reads the menu, which boots the firmware. A payload without
// one of them, or with one empty, makes a card that does not boot. No Qt:
// the card checker asks the same of a card.

// Paths on the boot volume; the deployment puts the boot folder at boot/ and
// the firmware at boot/bzImage.
inline constexpr const char* REQUIRED_BOOT_FILES[] = {"boot/grub/stage2", "boot/grub/menu.lst",
                                                      "boot/bzImage"};
inline constexpr char CARD_BOOT_FOLDER_PATH[] = "boot/";
inline constexpr char CARD_FIRMWARE_PATH[] = "boot/bzImage";
