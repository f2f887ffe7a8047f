#pragma once
class QWidget;

// The control panel as the user sees it beside the live image: on a dark full-screen backdrop at
// its place (1292, 60), built for real on the simulated instrument.
enum class PanelShotState { Live, Still, Opened, Disabled };

QWidget *panelShot(PanelShotState state);
