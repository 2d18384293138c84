#pragma once
// Layouts of the two configuration pages: the serial page (134) and the network page
// (135). Both carry the same configuration form; only the link row on top, a few
// positions and the ids of two lists differ.

#include "resources/layout.h"

namespace velmora::res {

inline constexpr int kSerialConfigDialogId = 134;
inline constexpr int kNetworkConfigDialogId = 135;

// Link rows.
inline constexpr int kIdcComPort = 1000;
inline constexpr int kIdcBaudRate = 1001;
inline constexpr int kIdcParity = 1002;
inline constexpr int kIdcOpenClose = 1003;
inline constexpr int kIdcRefreshPorts = 1039;
inline constexpr int kIdcBroadcastAddress = 1016;  // network page only

// The form, the same id on both pages.
inline constexpr int kIdcNetMode = 1004;
inline constexpr int kIdcBreatheTime = 1005;
inline constexpr int kIdcLocalIp = 1006;
inline constexpr int kIdcSubnetMask = 1007;
inline constexpr int kIdcGateway = 1008;
inline constexpr int kIdcServerIp = 1009;
inline constexpr int kIdcIp0Addr = 1010;
inline constexpr int kIdcIp1Addr = 1011;
inline constexpr int kIdcSleepTime = 1012;
inline constexpr int kIdcUartBaud = 1013;
inline constexpr int kIdcUartParity = 1014;
inline constexpr int kIdcUartMode = 1015;
inline constexpr int kIdcEthPort = 1018;
inline constexpr int kIdcDomain = 1019;
inline constexpr int kIdcIp0AddrPort = 1020;
inline constexpr int kIdcIp1Port = 1021;
inline constexpr int kIdcIp0DomainPort = 1022;
inline constexpr int kIdcIp0Domain = 1023;
inline constexpr int kIdcLoraFreq = 1024;
inline constexpr int kIdcLoraNetAddr = 1025;
inline constexpr int kIdcHeartbeat = 1026;
inline constexpr int kIdcRegister = 1027;
inline constexpr int kIdcMac = 1028;
inline constexpr int kIdcGenerateMac = 1032;
inline constexpr int kIdcWriteConfig = 1033;
inline constexpr int kIdcReadConfig = 1034;
inline constexpr int kIdcReadVersion = 1035;
inline constexpr int kIdcSoftwareReset = 1036;
inline constexpr int kIdcFota = 1037;
inline constexpr int kIdcReadCsq = 1050;
inline constexpr int kIdcDhcp = 1053;
inline constexpr int kIdcHex = 1054;
inline constexpr int kIdcSyncClock = 1055;
inline constexpr int kIdcPortLabel = 1056;

// The two lists whose ids depend on the page.
struct FormListIds {
  int tx_power;
  int uart_map;
};
inline constexpr FormListIds kSerialFormLists{1016, 1017};
inline constexpr FormListIds kNetworkFormLists{1017, 1029};

const Dialog& SerialConfigDialog();
const Dialog& NetworkConfigDialog();

}  // namespace velmora::res
