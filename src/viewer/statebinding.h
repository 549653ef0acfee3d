// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace kivo {

class AppState;
class NavigatorOverlay;
class ZoomableImageView;

// Connects a canvas to a viewer model as the viewer does: the canvas reads the image, rotation,
// display mode and the two one-shot requests; the viewer clears each request when the canvas
// has carried it out, stores the reported magnification and visible rectangle, answers a
// double click with a fit request and a navigating click with a step through the folder.
void bindCanvasToState(ZoomableImageView& canvas, AppState& state);

// Connects a navigator to a viewer model: it draws the current image as turned on screen and
// the visible rectangle, writes scroll requests and the drag state, and is shown only while
// part of the image is hidden or a drag is under way.
void bindNavigatorToState(NavigatorOverlay& navigator, AppState& state);

} // namespace kivo
