#pragma once

#include <array>
#include <optional>

// The photo list's pop-up menu as data: its commands in menu order, and which are enabled and
// which one is the default (bold), from a snapshot of the list's selection.

enum class ThumbsCommand {
    ShowPhoto,
    UploadPhotos,
    BuyPhotos,
    SendAsEmail,
    RenamePhoto,
    DeletePhotos,
    ExtendedPhotoInfo,
};
constexpr int kThumbsCommandCount = int(ThumbsCommand::ExtendedPhotoInfo) + 1;

struct ThumbsMenuEntry
{
    ThumbsCommand command;
    const char *text;
    bool separatorBefore;
};
// The menu "ThumbsViewPopupMenu", top to bottom.
const std::array<ThumbsMenuEntry, kThumbsCommandCount> &ThumbsMenuEntries();

struct ThumbsMenuSnapshot
{
    int selectionMark = -1; // the item last selected with the mouse or keyboard; -1 none
    int selectedCount = -1; // selected items; -1 none
    int hitIndex = -1;      // the item the menu opens on
    int shownIndex = -1;    // the item last shown from the list
};

struct ThumbsMenuStates
{
    std::array<bool, kThumbsCommandCount> enabled{};
    std::optional<ThumbsCommand> defaultCommand;

    bool isEnabled(ThumbsCommand c) const { return enabled[size_t(c)]; }
};
ThumbsMenuStates ComputeThumbsMenuStates(const ThumbsMenuSnapshot &s);
