// CMainFrame, the hidden main window, and CBlankView, its empty client view.
#pragma once

#include <windows.h>

#include "win/window.h"

class CSetupPropSheet;

// The client-area child of the frame; paints nothing.
class CBlankView : public win::Window {
public:
    // Commands are offered to the view before the frame; it handles none.
    bool RouteCommand(WORD id, WORD code, HWND control) { return OnCommand(id, code, control); }

protected:
    bool PreCreateWindow(CREATESTRUCTW& cs) override;
    bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;
};

// The application's main window: menu, toolbar, status bar and view from
// resource 128, created hidden and never shown. It owns startup's message
// boxes and the wizard.
class CMainFrame : public win::FrameWindow {
public:
    // The running wizard sheet; set by startup before the wizard runs and
    // cleared after it returns. The install job reaches its page through it.
    CSetupPropSheet* m_pSheet = nullptr;

protected:
    bool PreCreateWindow(CREATESTRUCTW& cs) override;
    int OnCreate(CREATESTRUCTW& cs) override;
    bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;
    bool OnCommand(WORD id, WORD code, HWND control) override;
    void RecalcLayout() override;

private:
    bool CreateToolBar();
    bool CreateStatusBar();

    HWND m_statusBar = nullptr;
    HWND m_toolBar = nullptr;
    CBlankView m_view;
};
