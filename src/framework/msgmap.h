// Message maps: a static table per window class that binds messages, and command IDs with their
// notification codes, to member handlers. The dialog procedure walks a class's table, then its
// base class's, and calls the first handler that matches.
#pragma once

#include "platform/platform.h"

class CWnd;
class CDC;

// How a handler is called: which message parameters it receives and what it returns.
enum class MessageHandlerKind : UINT {
    End,           // closes a table
    Command,       // void ()                       WM_COMMAND with one ID and notification code
    SysCommand,    // void (UINT id, LPARAM)        WM_SYSCOMMAND
    Paint,         // void ()                       WM_PAINT
    QueryDragIcon, // HCURSOR ()                    WM_QUERYDRAGICON
    CtlColor,      // HBRUSH (CDC*, CWnd*, UINT)    every WM_CTLCOLOR* message
    EraseBkgnd,    // BOOL (CDC*)                   WM_ERASEBKGND
};

// A handler under its own signature; the entry's kind says which member holds it.
union MessageHandler {
    void (CWnd::*plain)();                       // Command, Paint
    void (CWnd::*sysCommand)(UINT, LPARAM);      // SysCommand
    HCURSOR (CWnd::*queryDragIcon)();            // QueryDragIcon
    HBRUSH (CWnd::*ctlColor)(CDC*, CWnd*, UINT); // CtlColor
    BOOL (CWnd::*eraseBkgnd)(CDC*);              // EraseBkgnd

    constexpr MessageHandler() : plain(nullptr) {}
    constexpr MessageHandler(void (CWnd::*handler)()) : plain(handler) {}
    constexpr MessageHandler(void (CWnd::*handler)(UINT, LPARAM)) : sysCommand(handler) {}
    constexpr MessageHandler(HCURSOR (CWnd::*handler)()) : queryDragIcon(handler) {}
    constexpr MessageHandler(HBRUSH (CWnd::*handler)(CDC*, CWnd*, UINT)) : ctlColor(handler) {}
    constexpr MessageHandler(BOOL (CWnd::*handler)(CDC*)) : eraseBkgnd(handler) {}
};

struct MessageMapEntry {
    UINT message;
    UINT code; // notification code, WM_COMMAND only
    UINT id;   // control or command ID, WM_COMMAND only
    MessageHandlerKind kind;
    MessageHandler handler;
};

struct MessageMap {
    const MessageMap* base; // the base class's map, null at the root
    const MessageMapEntry* entries;
};

// Declares a class's map; place it right after the destructor, where the map accessor belongs
// among the virtual operations.
#define DECLARE_MESSAGE_MAP()                                                                      \
    static const MessageMap* GetThisMessageMap();                                                  \
    const MessageMap* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                     \
    const MessageMap* theClass::GetMessageMap() const {                                            \
        return GetThisMessageMap();                                                                \
    }                                                                                              \
    const MessageMap* theClass::GetThisMessageMap() {                                              \
        typedef theClass ThisClass [[maybe_unused]];                                               \
        typedef baseClass TheBaseClass;                                                            \
        static const MessageMapEntry entries[] = {

#define END_MESSAGE_MAP()                                                                          \
    { 0, 0, 0, MessageHandlerKind::End, MessageHandler() }                                         \
    }                                                                                              \
    ;                                                                                              \
    static const MessageMap map = {TheBaseClass::GetThisMessageMap(), entries};                    \
    return &map;                                                                                   \
    }

// A derived class's handler as a CWnd member of the signature its kind calls; the static_cast
// rejects a handler with another signature.
#define MESSAGE_HANDLER(signature, function) MessageHandler(static_cast<signature>(function))

#define ON_COMMAND_CODE(code, id, function)                                                        \
    {WM_COMMAND, (code), (id), MessageHandlerKind::Command,                                        \
     MESSAGE_HANDLER(void(CWnd::*)(), function)},
#define ON_COMMAND(id, function) ON_COMMAND_CODE(0, id, function)
#define ON_BN_CLICKED(id, function) ON_COMMAND_CODE(BN_CLICKED, id, function)

#define ON_WM_SYSCOMMAND()                                                                         \
    {WM_SYSCOMMAND, 0, 0, MessageHandlerKind::SysCommand,                                          \
     MESSAGE_HANDLER(void(CWnd::*)(UINT, LPARAM), &ThisClass::OnSysCommand)},
#define ON_WM_PAINT()                                                                              \
    {WM_PAINT, 0, 0, MessageHandlerKind::Paint,                                                    \
     MESSAGE_HANDLER(void(CWnd::*)(), &ThisClass::OnPaint)},
#define ON_WM_QUERYDRAGICON()                                                                      \
    {WM_QUERYDRAGICON, 0, 0, MessageHandlerKind::QueryDragIcon,                                    \
     MESSAGE_HANDLER(HCURSOR(CWnd::*)(), &ThisClass::OnQueryDragIcon)},
// One entry serves WM_CTLCOLORMSGBOX to WM_CTLCOLORSTATIC; the handler gets the CTLCOLOR_* type.
#define ON_WM_CTLCOLOR()                                                                           \
    {WM_CTLCOLORSTATIC, 0, 0, MessageHandlerKind::CtlColor,                                        \
     MESSAGE_HANDLER(HBRUSH(CWnd::*)(CDC*, CWnd*, UINT), &ThisClass::OnCtlColor)},
#define ON_WM_ERASEBKGND()                                                                         \
    {WM_ERASEBKGND, 0, 0, MessageHandlerKind::EraseBkgnd,                                          \
     MESSAGE_HANDLER(BOOL(CWnd::*)(CDC*), &ThisClass::OnEraseBkgnd)},
