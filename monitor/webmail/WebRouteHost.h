// What the web-mail route (untwo) needs from the main window: its event
// reporter and its exit request. The main window sets it at start-up; it
// lives here, apart from the route, so that setting it does not bring the
// browser engine into every program that has a main window.
#pragma once

#include <functional>
#include <string>

// Members left empty do nothing (ReportEvent) or answer false
// (ExitRequested).
struct TWebRouteHost {
    // The event reporter (text, message number, kind, blue-green-red colour).
    std::function<void(const std::string &Text, int Number, int Kind, int Colour)> ReportEvent;
    // The main window's exit command has been given (Exit1.Tag == 1).
    std::function<bool()> ExitRequested;
};
void SetWebRouteHost(TWebRouteHost host);
const TWebRouteHost &WebRouteHost();
