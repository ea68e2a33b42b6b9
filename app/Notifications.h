#pragma once

// Every notification name the widgets and row views post.
namespace vaultry::notify {
inline constexpr const char* PRLeftButtonMouseDown = "PRLeftButtonMouseDown";
inline constexpr const char* PRLeftTipButtonMouseEntered = "PRLeftTipButtonMouseEntered";
inline constexpr const char* PRLeftTipButtonMouseExited = "PRLeftTipButtonMouseExited";
inline constexpr const char* FBLeftButtonMouseDown = "FBLeftButtonMouseDown";
inline constexpr const char* FBLeftButtonMouseEntered = "FBLeftButtonMouseEntered";
inline constexpr const char* FBLeftButtonMouseExited = "FBLeftButtonMouseExited";
inline constexpr const char* PBypeButtonMouseDown = "PBypeButtonMouseDown";
inline constexpr const char* PBypeButtonMouseEntered = "PBypeButtonMouseEntered";
inline constexpr const char* PBypeButtonMouseExited = "PBypeButtonMouseExited";
inline constexpr const char* MyClosebuttonMouseDown = "MyClosebuttonMouseDown";
inline constexpr const char* PRCellButtonMouseDown = "PRCellButtonMouseDown";
inline constexpr const char* PRRejectButtonMouseEnter = "PRRejectButtonMouseEnter";
inline constexpr const char* PRRejectButtonMouseExited = "PRRejectButtonMouseExited";
inline constexpr const char* PRRejectButtonMouseDown = "PRRejectButtonMouseDown";
inline constexpr const char* ClickShowInFinderNotification = "ClickShowInFinderNotification";
inline constexpr const char* ClickSwtichOnNotification = "ClickSwtichOnNotification";
inline constexpr const char* ClickSwtichOffNotification = "ClickSwtichOffNotification";
inline constexpr const char* ClickRemoveItemNotification = "ClickRemoveItemNotification";
}  // namespace vaultry::notify
