#include "resources/config_layouts.h"

#include <QtGlobal>

#include <algorithm>
#include <cassert>

namespace velmora::res {

namespace {

// Every part of the form, so the two pages can place it without repeating what it is.
enum class Slot {
  EthernetGroup, LocalIp, SubnetMask, Gateway, Dhcp, ServerIp, PortLabel, EthPort, NetMode, Domain,
  G4Group, Ip0Domain, Ip0DomainPort, Ip0Addr, Ip0AddrPort, Ip1Addr, Ip1Port,
  LoraGroup, LoraFreq, SleepTime, LoraNetAddr, BreatheTime, TxPower,
  UartGroup, UartBaud, UartMode, UartParity, UartMap,
  OtherGroup, Heartbeat, Register, Hex, Mac, GenerateMac,
  WriteConfig, ReadConfig, ReadVersion, ReadCsq, SyncClock, SoftwareReset, Fota,
};

// What a form control is; its id is kNoId where the page decides (the two page lists).
struct FormRow {
  Slot slot;
  int id;
  Kind kind;
  const char* caption;
  std::vector<const char*> items = {};
  int text_limit = 0;
  unsigned style = kNoStyle;
  int label_id = kNoId;
};

struct Place {
  Slot slot;
  int x, y, w, h;
};

const std::vector<const char*> kBaudItems{"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"};
const std::vector<const char*> kParityItems{"NO", "ODD", "EVEN"};

const std::vector<FormRow>& FormRows() {
  static const std::vector<FormRow> rows{
      {Slot::EthernetGroup, kNoId, Kind::GroupBox, QT_TRANSLATE_NOOP("Layout", "以太网配置区:")},
      {Slot::LocalIp, kIdcLocalIp, Kind::IpAddress, QT_TRANSLATE_NOOP("Layout", "本地IPv4:")},
      {Slot::SubnetMask, kIdcSubnetMask, Kind::IpAddress, QT_TRANSLATE_NOOP("Layout", "子网掩码:")},
      {Slot::Gateway, kIdcGateway, Kind::IpAddress, QT_TRANSLATE_NOOP("Layout", "网关地址:")},
      {Slot::Dhcp, kIdcDhcp, Kind::CheckBox, "DHCP"},
      {Slot::ServerIp, kIdcServerIp, Kind::IpAddress, QT_TRANSLATE_NOOP("Layout", "服务器IP:")},
      {Slot::PortLabel, kIdcPortLabel, Kind::Label, QT_TRANSLATE_NOOP("Layout", "目标端口:")},
      {Slot::EthPort, kIdcEthPort, Kind::Edit, "", {}, 0, kDigitsOnly, kIdcPortLabel},
      {Slot::NetMode, kIdcNetMode, Kind::ComboBox, QT_TRANSLATE_NOOP("Layout", "网络模式:"), {"TCP Client", "TCP Server", "UDP Client"}},
      {Slot::Domain, kIdcDomain, Kind::Edit, QT_TRANSLATE_NOOP("Layout", "域名登录:"), {}, 64},

      {Slot::G4Group, kNoId, Kind::GroupBox, QT_TRANSLATE_NOOP("Layout", "4G配置区:")},
      {Slot::Ip0Domain, kIdcIp0Domain, Kind::Edit, QT_TRANSLATE_NOOP("Layout", "IP0域名:"), {}, 64},
      {Slot::Ip0DomainPort, kIdcIp0DomainPort, Kind::Edit, QT_TRANSLATE_NOOP("Layout", "IP0端口:"), {}, 0, kDigitsOnly},
      {Slot::Ip0Addr, kIdcIp0Addr, Kind::IpAddress, QT_TRANSLATE_NOOP("Layout", "IP0地址:")},
      {Slot::Ip0AddrPort, kIdcIp0AddrPort, Kind::Edit, QT_TRANSLATE_NOOP("Layout", "IP0端口:"), {}, 0, kDigitsOnly},
      {Slot::Ip1Addr, kIdcIp1Addr, Kind::IpAddress, QT_TRANSLATE_NOOP("Layout", "IP1地址:")},
      {Slot::Ip1Port, kIdcIp1Port, Kind::Edit, QT_TRANSLATE_NOOP("Layout", "IP1端口:"), {}, 0, kDigitsOnly},

      {Slot::LoraGroup, kNoId, Kind::GroupBox, QT_TRANSLATE_NOOP("Layout", "LORA配置区:")},
      // The default and every decoded value carry a decimal point, so one may be typed too.
      {Slot::LoraFreq, kIdcLoraFreq, Kind::Edit, QT_TRANSLATE_NOOP("Layout", "发送频率:"), {}, 0, kDigitsOnly | kDecimal},
      {Slot::SleepTime, kIdcSleepTime, Kind::ComboBox, QT_TRANSLATE_NOOP("Layout", "休眠时间:"), {"2s", "4s", "6s", "8s", "10s"}},
      {Slot::LoraNetAddr, kIdcLoraNetAddr, Kind::Edit, QT_TRANSLATE_NOOP("Layout", "网络地址:"), {}, 0, kDigitsOnly},
      {Slot::BreatheTime, kIdcBreatheTime, Kind::ComboBox, QT_TRANSLATE_NOOP("Layout", "呼吸时间:"), {"2ms", "4ms", "8ms", "16ms", "32ms", "64ms"}},
      {Slot::TxPower, kNoId, Kind::ComboBox, QT_TRANSLATE_NOOP("Layout", "发送功率:"),
       {"Level1", "Level2", "Level3", "Level4", "Level5", "Level6", "Level7"}},

      {Slot::UartGroup, kNoId, Kind::GroupBox, QT_TRANSLATE_NOOP("Layout", "UART参数区:")},
      {Slot::UartBaud, kIdcUartBaud, Kind::ComboBox, QT_TRANSLATE_NOOP("Layout", "串口速率:"), kBaudItems},
      {Slot::UartMode, kIdcUartMode, Kind::ComboBox, QT_TRANSLATE_NOOP("Layout", "串口模式:"), {"TTL", "RS232", "RS485"}},
      {Slot::UartParity, kIdcUartParity, Kind::ComboBox, QT_TRANSLATE_NOOP("Layout", "串口校验:"), kParityItems},
      {Slot::UartMap, kNoId, Kind::ComboBox, QT_TRANSLATE_NOOP("Layout", "串口映射:"), {QT_TRANSLATE_NOOP("Layout", "关闭"), "LORA", "IP0_4G", "IP1_4G", QT_TRANSLATE_NOOP("Layout", "以太网")}},

      {Slot::OtherGroup, kNoId, Kind::GroupBox, QT_TRANSLATE_NOOP("Layout", "其它参数区:")},
      {Slot::Heartbeat, kIdcHeartbeat, Kind::Edit, QT_TRANSLATE_NOOP("Layout", "心跳包:")},
      {Slot::Register, kIdcRegister, Kind::Edit, QT_TRANSLATE_NOOP("Layout", "注册包:")},
      {Slot::Hex, kIdcHex, Kind::CheckBox, "HEX"},
      {Slot::Mac, kIdcMac, Kind::Edit, QT_TRANSLATE_NOOP("Layout", "MAC地址:"), {}, 17},
      {Slot::GenerateMac, kIdcGenerateMac, Kind::PushButton, QT_TRANSLATE_NOOP("Layout", "生成")},

      {Slot::WriteConfig, kIdcWriteConfig, Kind::PushButton, QT_TRANSLATE_NOOP("Layout", "写入配置")},
      {Slot::ReadConfig, kIdcReadConfig, Kind::PushButton, QT_TRANSLATE_NOOP("Layout", "读取配置")},
      {Slot::ReadVersion, kIdcReadVersion, Kind::PushButton, QT_TRANSLATE_NOOP("Layout", "读版本")},
      {Slot::ReadCsq, kIdcReadCsq, Kind::PushButton, QT_TRANSLATE_NOOP("Layout", "读CSQ")},
      {Slot::SyncClock, kIdcSyncClock, Kind::PushButton, QT_TRANSLATE_NOOP("Layout", "同步时钟")},
      {Slot::SoftwareReset, kIdcSoftwareReset, Kind::PushButton, QT_TRANSLATE_NOOP("Layout", "软件复位")},
      {Slot::Fota, kIdcFota, Kind::PushButton, "FOTA"},
  };
  return rows;
}

// The link row first, then the form in its fixed order at the page's positions.
Dialog Compose(int dialog_id, std::vector<Control> link_row, const std::vector<Place>& places, FormListIds lists) {
  Dialog d{dialog_id, "", 368, 400, 8, std::move(link_row)};
  for (const FormRow& row : FormRows()) {
    const auto at = std::find_if(places.begin(), places.end(), [&](const Place& p) { return p.slot == row.slot; });
    assert(at != places.end() && "every part of the form has a place on the page");
    int id = row.id;
    if (row.slot == Slot::TxPower) id = lists.tx_power;
    if (row.slot == Slot::UartMap) id = lists.uart_map;
    d.controls.push_back(
        Control{id, row.kind, row.caption, at->x, at->y, at->w, at->h, row.items, row.text_limit, row.style, row.label_id});
  }
  return d;
}

}  // namespace

const Dialog& SerialConfigDialog() {
  static const Dialog d = Compose(
      kSerialConfigDialogId,
      {
          {kNoId, Kind::GroupBox, QT_TRANSLATE_NOOP("Layout", "串口选择:"), 8, 6, 348, 31},
          {kIdcComPort, Kind::ComboBox, QT_TRANSLATE_NOOP("Layout", "串  口:"), 46, 18, 45, 107},
          {kIdcBaudRate, Kind::ComboBox, QT_TRANSLATE_NOOP("Layout", "波特率:"), 124, 18, 45, 109, kBaudItems},
          {kIdcParity, Kind::ComboBox, QT_TRANSLATE_NOOP("Layout", "校  验:"), 199, 18, 45, 115, kParityItems},
          {kIdcOpenClose, Kind::PushButton, QT_TRANSLATE_NOOP("Layout", "打开"), 250, 17, 45, 15},
          {kIdcRefreshPorts, Kind::PushButton, QT_TRANSLATE_NOOP("Layout", "刷新"), 298, 17, 45, 15},
      },
      {
          {Slot::EthernetGroup, 8, 39, 348, 88},
          {Slot::LocalIp, 58, 50, 100, 14},
          {Slot::SubnetMask, 213, 50, 100, 14},
          {Slot::Gateway, 58, 69, 100, 14},
          {Slot::Dhcp, 175, 73, 34, 10},
          {Slot::ServerIp, 58, 88, 100, 14},
          {Slot::PortLabel, 175, 91, 36, 8},
          {Slot::EthPort, 213, 88, 100, 14},
          {Slot::NetMode, 213, 108, 100, 133},
          {Slot::Domain, 58, 107, 100, 14},
          {Slot::G4Group, 8, 128, 348, 67},
          {Slot::Ip0Domain, 58, 138, 100, 14},
          {Slot::Ip0DomainPort, 213, 138, 100, 14},
          {Slot::Ip0Addr, 58, 157, 100, 14},
          {Slot::Ip0AddrPort, 213, 157, 100, 14},
          {Slot::Ip1Addr, 58, 176, 100, 14},
          {Slot::Ip1Port, 213, 176, 100, 14},
          {Slot::LoraGroup, 8, 197, 348, 68},
          {Slot::LoraFreq, 58, 208, 100, 14},
          {Slot::SleepTime, 213, 208, 100, 133},
          {Slot::LoraNetAddr, 58, 227, 100, 14},
          {Slot::BreatheTime, 213, 227, 100, 133},
          {Slot::TxPower, 58, 247, 100, 133},
          {Slot::UartGroup, 8, 267, 348, 48},
          {Slot::UartBaud, 58, 279, 100, 133},
          {Slot::UartMode, 213, 279, 100, 133},
          {Slot::UartParity, 58, 297, 100, 133},
          {Slot::UartMap, 213, 297, 100, 133},
          {Slot::OtherGroup, 8, 317, 348, 49},
          {Slot::Heartbeat, 58, 326, 100, 14},
          {Slot::Register, 213, 326, 100, 14},
          {Slot::Hex, 318, 329, 25, 10},
          {Slot::Mac, 58, 346, 100, 14},
          {Slot::GenerateMac, 174, 346, 50, 14},
          {Slot::WriteConfig, 16, 371, 45, 14},
          {Slot::ReadConfig, 64, 371, 45, 14},
          {Slot::ReadVersion, 112, 371, 45, 14},
          {Slot::ReadCsq, 160, 371, 45, 14},
          {Slot::SyncClock, 208, 371, 45, 14},
          {Slot::SoftwareReset, 256, 371, 45, 14},
          {Slot::Fota, 305, 371, 45, 14},
      },
      kSerialFormLists);
  return d;
}

const Dialog& NetworkConfigDialog() {
  static const Dialog d = Compose(
      kNetworkConfigDialogId,
      {
          {kNoId, Kind::GroupBox, QT_TRANSLATE_NOOP("Layout", "UDP连接:"), 8, 7, 348, 29},
          {kIdcBroadcastAddress, Kind::IpAddress, QT_TRANSLATE_NOOP("Layout", "广播地址:"), 58, 16, 100, 15},
          {kIdcOpenClose, Kind::PushButton, QT_TRANSLATE_NOOP("Layout", "打开"), 175, 16, 68, 15},
      },
      {
          {Slot::EthernetGroup, 8, 38, 348, 86},
          {Slot::LocalIp, 58, 48, 100, 14},
          {Slot::SubnetMask, 213, 48, 100, 14},
          {Slot::Gateway, 58, 66, 100, 14},
          {Slot::Dhcp, 175, 70, 34, 10},
          {Slot::ServerIp, 58, 85, 100, 14},
          {Slot::PortLabel, 175, 88, 36, 8},
          {Slot::EthPort, 213, 85, 100, 14},
          {Slot::NetMode, 213, 105, 100, 133},
          {Slot::Domain, 58, 104, 100, 14},
          {Slot::G4Group, 8, 126, 348, 67},
          {Slot::Ip0Domain, 58, 136, 100, 14},
          {Slot::Ip0DomainPort, 213, 136, 100, 14},
          {Slot::Ip0Addr, 58, 155, 100, 14},
          {Slot::Ip0AddrPort, 213, 155, 100, 14},
          {Slot::Ip1Addr, 58, 173, 100, 14},
          {Slot::Ip1Port, 213, 173, 100, 14},
          {Slot::LoraGroup, 8, 195, 348, 66},
          {Slot::LoraFreq, 58, 206, 100, 14},
          {Slot::SleepTime, 213, 206, 100, 133},
          {Slot::LoraNetAddr, 58, 224, 100, 14},
          {Slot::BreatheTime, 213, 224, 100, 133},
          {Slot::TxPower, 58, 242, 100, 133},
          {Slot::UartGroup, 8, 263, 348, 48},
          {Slot::UartBaud, 58, 274, 100, 133},
          {Slot::UartMode, 213, 274, 100, 133},
          {Slot::UartParity, 58, 292, 100, 133},
          {Slot::UartMap, 213, 292, 100, 133},
          {Slot::OtherGroup, 8, 313, 348, 48},
          {Slot::Heartbeat, 58, 323, 100, 14},
          {Slot::Register, 213, 323, 100, 14},
          {Slot::Hex, 317, 326, 25, 10},
          {Slot::Mac, 58, 341, 100, 14},
          {Slot::GenerateMac, 173, 341, 50, 14},
          {Slot::WriteConfig, 15, 367, 45, 14},
          {Slot::ReadConfig, 63, 367, 45, 14},
          {Slot::ReadVersion, 111, 367, 45, 14},
          {Slot::ReadCsq, 159, 367, 45, 14},
          {Slot::SyncClock, 207, 367, 45, 14},
          {Slot::SoftwareReset, 255, 367, 45, 14},
          {Slot::Fota, 303, 367, 45, 14},
      },
      kNetworkFormLists);
  return d;
}

}  // namespace velmora::res
