#pragma once

#include <QSize>
#include <QString>

#include <array>
#include <span>

// The main frame's commands as data, the rules that enable, tick and mark them, and the texts
// of the status panes: plain functions of one snapshot of what they read, so that the frame
// only copies their answers onto its actions and panes.

enum class FrameCommand {
    SaveAs,
    Exit,
    SlideShow,
    Toolbar,
    StatusBar,
    UploadPhoto,
    UploadFolder,
    BuyPhoto,
    BuyFolder,
    ZoomIn,
    ZoomOut,
    Zoom25,
    Zoom50,
    Zoom100,
    Zoom200,
    ShrinkToFit,
    RotateLeft,
    RotateRight,
    NextPage,
    PrevPage,
    FirstPage,
    LastPage,
    AdvancedSettings,
    LiveUpdate,
    About,
    WebSite,
};
constexpr int kFrameCommandCount = int(FrameCommand::WebSite) + 1;

struct FrameCommandInfo
{
    FrameCommand id;
    const char *text;   // menu text with its mnemonic; null for the toolbar-only command
    const char *menu;   // "&Image/Zoom": top menu and submenu; null when not in a menu
    const char *prompt; // status-bar prompt, then "\n" and the tool tip
    const char *themeIcon; // freedesktop icon name of the desktop theme's picture; null when it has none
    const char *picture;   // our picture, ":/icons/commands/<picture>.svg"; null for a command without one
};

// Every command, in menu order within each menu.
std::span<const FrameCommandInfo> FrameCommandTable();
const FrameCommandInfo &CommandInfo(FrameCommand id);
QString CommandPrompt(FrameCommand id);
QString CommandTip(FrameCommand id);

// The toolbar from left to right; a separator stands where the list holds no command.
struct ToolbarSlot
{
    bool separator;
    FrameCommand command;
};
std::span<const ToolbarSlot> ToolbarLayout();

// What the command states and the status panes read.
struct FrameSnapshot
{
    QString imagePath;          // the image view's photo; empty = none
    QSize photoSize;            // decoded size, (0, 0) without a photo
    QSize displaySize;          // shown size, (0, 0) without a photo
    int currentZoom = 0;
    bool fitMode = true;
    QString listFolder;         // the photo list's current folder; empty = none
    int pageIndex = 0;
    int pageCount = 0;
    bool pageCountKnown = true; // false while the list's folder is still being read
    bool thumbnailWorkerRunning = false;
    int listPhotoCount = 0;     // photos in the listed folder
    bool toolbarShown = true;
    bool statusBarShown = true;
};

struct CommandState
{
    bool enabled = true;
    bool checked = false; // tick, or bullet for the zoom levels
};
using CommandStates = std::array<CommandState, kFrameCommandCount>;

CommandStates ComputeCommandStates(const FrameSnapshot &s);

inline const CommandState &StateOf(const CommandStates &states, FrameCommand id)
{
    return states[size_t(id)];
}

struct StatusTexts
{
    QString page, folder, image, originalSize, zoom, currentSize;
};
StatusTexts ComputeStatusTexts(const FrameSnapshot &s);

// The window's title: the shown photo's file name and " - Quillmere", or "Quillmere" alone
// while no photo is shown.
QString WindowTitle(const FrameSnapshot &s);

// The widest text of each information pane, the label padded with blanks; the panes are made
// as wide as these.
std::array<QString, 6> StatusPaneTemplates();

