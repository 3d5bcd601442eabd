#include "browse/ThumbsMenu.h"

const std::array<ThumbsMenuEntry, kThumbsCommandCount> &ThumbsMenuEntries()
{
    using C = ThumbsCommand;
    static const std::array<ThumbsMenuEntry, kThumbsCommandCount> entries{{
        {C::ShowPhoto, "&Show Photo", false},
        {C::UploadPhotos, "Upload Photo(s)", true},
        {C::BuyPhotos, "Buy Photo(s)", true},
        {C::SendAsEmail, "Send as E-mail", true},
        {C::RenamePhoto, "Rename Photo", false},
        {C::DeletePhotos, "Delete Photo(s)", false},
        {C::ExtendedPhotoInfo, "Extended Photo Info", true},
    }};
    return entries;
}

ThumbsMenuStates ComputeThumbsMenuStates(const ThumbsMenuSnapshot &s)
{
    using C = ThumbsCommand;
    ThumbsMenuStates states;
    auto set = [&](C c, bool on) { states.enabled[size_t(c)] = on; };
    for (C c : {C::UploadPhotos, C::BuyPhotos, C::SendAsEmail, C::DeletePhotos})
        set(c, true);
    if (s.selectionMark != -1 && s.selectedCount == 1) {
        // The photo is shown already: nothing to show, and no default.
        const bool alreadyShown = s.hitIndex == s.shownIndex;
        set(C::ShowPhoto, !alreadyShown);
        if (!alreadyShown)
            states.defaultCommand = C::ShowPhoto;
        set(C::RenamePhoto, true);
        set(C::ExtendedPhotoInfo, true);
    } else {
        states.defaultCommand = C::UploadPhotos;
    }
    return states;
}
