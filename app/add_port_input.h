#pragma once

#include <functional>
#include <string>

#include "upnp/upnp.h"

// Control ids of the add-port dialog. The fields stand on screen (and in tab
// order) as protocol, external port, internal client, internal port,
// description: the ids 1003 and 1004 are not in screen order.
constexpr int kFieldProtocol = 1001;
constexpr int kFieldExternalPort = 1002;
constexpr int kFieldInternalPort = 1003;
constexpr int kFieldInternalClient = 1004;
constexpr int kFieldDescription = 1005;

constexpr const char* kAddPortDialogTitle = "ポート追加";
constexpr const char* kLabelProtocol = "プロトコル";
constexpr const char* kLabelExternalPort = "ポート/WAN側";
constexpr const char* kLabelInternalClient = "アドレス/LAN側";
constexpr const char* kLabelInternalPort = "ポート/LAN側";
constexpr const char* kLabelDescription = "コメント";
constexpr const char* kButtonOk = "ＯＫ";
constexpr const char* kButtonCancel = "キャンセル";
constexpr const char* kInvalidInputText = "入力値が不正です";
constexpr const char* kInvalidInputCaption = "ポートマップ追加";

// The protocol choices, the first one selected at opening.
constexpr const char* kProtocols[] = {"TCP", "UDP"};
constexpr const char* kDefaultPortText = "1234";

// The dialog's field texts as the user left them.
struct cAddPortInput {
    std::string protocol;
    std::string externalPort;
    std::string internalClient;
    std::string internalPort;
    std::string description;
};

// The dialog's fields read through `fieldText`, which gives the text of the
// field with a control id (kFieldProtocol …), empty when there is none.
cAddPortInput ReadAddPortInput(const std::function<std::string(int id)>& fieldText);

// The texts a fresh dialog opens with: TCP, 1234, this host's address on the
// gateway's network (empty when unknown), 1234, no description.
cAddPortInput DefaultAddPortInput();

// Checks the texts: protocol not empty; both ports, read as atoi does, within
// 1..65535; internal client not empty (its form is not examined); the
// description may be empty. On success fills `entry` (enabled) and returns
// true; otherwise leaves `entry` untouched.
bool ValidateAddPortInput(const cAddPortInput& input, cUPnP::cEntry& entry);
