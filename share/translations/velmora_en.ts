<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>Layout</name>
    <message>
        <source>设备地址</source>
        <translation>Device address</translation>
    </message>
    <message>
        <source>电压</source>
        <translation>Voltage</translation>
    </message>
    <message>
        <source>北纬</source>
        <translation>Latitude (N)</translation>
    </message>
    <message>
        <source>东经</source>
        <translation>Longitude (E)</translation>
    </message>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>尺寸</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>采集间隔</source>
        <translation>Interval</translation>
    </message>
    <message>
        <source>监听时间</source>
        <translation>Listen time</translation>
    </message>
    <message>
        <source>固件版本</source>
        <translation>Firmware</translation>
    </message>
    <message>
        <source>信号强度</source>
        <translation>Signal</translation>
    </message>
    <message>
        <source>以太网配置区:</source>
        <translation>Ethernet settings:</translation>
    </message>
    <message>
        <source>本地IPv4:</source>
        <translation>Local IPv4:</translation>
    </message>
    <message>
        <source>子网掩码:</source>
        <translation>Netmask:</translation>
    </message>
    <message>
        <source>网关地址:</source>
        <translation>Gateway:</translation>
    </message>
    <message>
        <source>服务器IP:</source>
        <translation>Server IP:</translation>
    </message>
    <message>
        <source>目标端口:</source>
        <translation>Remote port:</translation>
    </message>
    <message>
        <source>网络模式:</source>
        <translation>Net mode:</translation>
    </message>
    <message>
        <source>域名登录:</source>
        <translation>Domain:</translation>
    </message>
    <message>
        <source>4G配置区:</source>
        <translation>4G settings:</translation>
    </message>
    <message>
        <source>IP0域名:</source>
        <translation>IP0 domain:</translation>
    </message>
    <message>
        <source>IP0端口:</source>
        <translation>IP0 port:</translation>
    </message>
    <message>
        <source>IP0地址:</source>
        <translation>IP0 addr:</translation>
    </message>
    <message>
        <source>IP1地址:</source>
        <translation>IP1 addr:</translation>
    </message>
    <message>
        <source>IP1端口:</source>
        <translation>IP1 port:</translation>
    </message>
    <message>
        <source>LORA配置区:</source>
        <translation>LORA settings:</translation>
    </message>
    <message>
        <source>发送频率:</source>
        <translation>TX freq:</translation>
    </message>
    <message>
        <source>休眠时间:</source>
        <translation>Sleep time:</translation>
    </message>
    <message>
        <source>网络地址:</source>
        <translation>Net addr:</translation>
    </message>
    <message>
        <source>呼吸时间:</source>
        <translation>Breathe:</translation>
    </message>
    <message>
        <source>发送功率:</source>
        <translation>TX power:</translation>
    </message>
    <message>
        <source>UART参数区:</source>
        <translation>UART settings:</translation>
    </message>
    <message>
        <source>串口速率:</source>
        <translation>Baud rate:</translation>
    </message>
    <message>
        <source>串口模式:</source>
        <translation>UART mode:</translation>
    </message>
    <message>
        <source>串口校验:</source>
        <translation>Parity:</translation>
    </message>
    <message>
        <source>串口映射:</source>
        <translation>Map to:</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Off</translation>
    </message>
    <message>
        <source>以太网</source>
        <translation>Ethernet</translation>
    </message>
    <message>
        <source>其它参数区:</source>
        <translation>Other settings:</translation>
    </message>
    <message>
        <source>心跳包:</source>
        <translation>Heartbeat:</translation>
    </message>
    <message>
        <source>注册包:</source>
        <translation>Register:</translation>
    </message>
    <message>
        <source>MAC地址:</source>
        <translation>MAC:</translation>
    </message>
    <message>
        <source>生成</source>
        <translation>Generate</translation>
    </message>
    <message>
        <source>写入配置</source>
        <translation>Write</translation>
    </message>
    <message>
        <source>读取配置</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>读版本</source>
        <translation>Version</translation>
    </message>
    <message>
        <source>读CSQ</source>
        <translation>Read CSQ</translation>
    </message>
    <message>
        <source>同步时钟</source>
        <translation>Set clock</translation>
    </message>
    <message>
        <source>软件复位</source>
        <translation>Reset</translation>
    </message>
    <message>
        <source>串口选择:</source>
        <translation>Serial port:</translation>
    </message>
    <message>
        <source>串  口:</source>
        <translation>Port:</translation>
    </message>
    <message>
        <source>波特率:</source>
        <translation>Baud:</translation>
    </message>
    <message>
        <source>校  验:</source>
        <translation>Parity:</translation>
    </message>
    <message>
        <source>打开</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>刷新</source>
        <translation>Refresh</translation>
    </message>
    <message>
        <source>UDP连接:</source>
        <translation>UDP link:</translation>
    </message>
    <message>
        <source>广播地址:</source>
        <translation>Broadcast:</translation>
    </message>
    <message>
        <source>FOTA在线升级系统:</source>
        <translation>FOTA online upgrade:</translation>
    </message>
    <message>
        <source>打开文件:</source>
        <translation>Open file:</translation>
    </message>
    <message>
        <source>文件信息:</source>
        <translation>File info:</translation>
    </message>
    <message>
        <source>文件名称:</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>文件大小:</source>
        <translation>Size:</translation>
    </message>
    <message>
        <source>烧录控制:</source>
        <translation>Upgrade control:</translation>
    </message>
    <message>
        <source>APP升级</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>STOP升级</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>烧录进度:</source>
        <translation>Upgrade progress:</translation>
    </message>
    <message>
        <source>烧写进度:</source>
        <translation>Progress:</translation>
    </message>
    <message>
        <source>关于 Morvane(&amp;A)...</source>
        <translation>&amp;About Morvane...</translation>
    </message>
    <message>
        <source>关于 Morvane</source>
        <translation>About Morvane</translation>
    </message>
    <message>
        <source>Morvane，1.0 版</source>
        <translation>Morvane, version 1.0</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>全选</source>
        <translation>Select All</translation>
    </message>
    <message>
        <source>查找...</source>
        <translation>Find...</translation>
    </message>
    <message>
        <source>另存为...</source>
        <translation>Save As...</translation>
    </message>
    <message>
        <source>保存会话日志</source>
        <translation>Keep session log</translation>
    </message>
    <message>
        <source>MQTT端口映射:</source>
        <translation>MQTT port mapping:</translation>
    </message>
    <message>
        <source>MQTT三元组信息:</source>
        <translation>MQTT credentials:</translation>
    </message>
    <message>
        <source>端口映射:</source>
        <translation>Map to:</translation>
    </message>
    <message>
        <source>SQL数据库:</source>
        <translation>SQL database:</translation>
    </message>
    <message>
        <source>SQL数据库控制:</source>
        <translation>SQL database control:</translation>
    </message>
    <message>
        <source>读取记录</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>清空记录</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>导出Excel</source>
        <translation>Export</translation>
    </message>
    <message>
        <source>发送数据</source>
        <translation>Send data</translation>
    </message>
    <message>
        <source>数据:</source>
        <translation>Data:</translation>
    </message>
    <message>
        <source>格式:</source>
        <translation>Format:</translation>
    </message>
    <message>
        <source>十六进制</source>
        <translation>Hex</translation>
    </message>
    <message>
        <source>文本</source>
        <translation>Text</translation>
    </message>
    <message>
        <source>链路:</source>
        <translation>Link:</translation>
    </message>
    <message>
        <source>追加回车换行</source>
        <translation>Append CR LF</translation>
    </message>
    <message>
        <source>操作</source>
        <translation>Operation</translation>
    </message>
    <message>
        <source>结果</source>
        <translation>Result</translation>
    </message>
    <message>
        <source>工作站</source>
        <translation>Station</translation>
    </message>
    <message>
        <source>链路</source>
        <translation>Link</translation>
    </message>
    <message>
        <source>本地IP</source>
        <translation>Local IP</translation>
    </message>
    <message>
        <source>错误信息</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>发送</source>
        <translation>Send</translation>
    </message>
</context>
<context>
    <name>Log</name>
    <message>
        <source>UDP发送:</source>
        <translation>UDP send:</translation>
    </message>
    <message>
        <source>串口发送:</source>
        <translation>Serial send:</translation>
    </message>
    <message>
        <source>[UDP]: 以下数据来自 %1.</source>
        <translation>[UDP]: The following data is from %1.</translation>
    </message>
    <message>
        <source>串口接收:</source>
        <translation>Serial recv:</translation>
    </message>
    <message>
        <source>UDP接收:</source>
        <translation>UDP recv:</translation>
    </message>
    <message>
        <source>[UDP]: 忽略来自 %1 的 %2 字节数据</source>
        <translation>[UDP]: Ignored %2 bytes from %1</translation>
    </message>
    <message>
        <source>(另有 %1 个数据包被忽略)</source>
        <translation> (%1 more datagrams ignored)</translation>
    </message>
    <message>
        <source>[UDP]: %1 个数据包来得太快,未能处理.</source>
        <translation>[UDP]: %1 datagrams came too fast and were not handled.</translation>
    </message>
    <message>
        <source>[UDP]: 有 %1 台设备应答: %2. 写入会发往所有这些设备.</source>
        <translation>[UDP]: %1 devices answer: %2. A write goes to all of them.</translation>
    </message>
    <message>
        <source>[UDP]: 搜索设备: 向 %1 询问版本和配置.</source>
        <translation>[UDP]: Searching: asking %1 for version and configuration.</translation>
    </message>
    <message>
        <source>[%1]: 串口 %2 秒内没有应答 (命令 %3).</source>
        <translation>[%1]: no answer over the serial link within %2 s (command %3).</translation>
    </message>
    <message>
        <source>[%1]: UDP %2 秒内没有应答 (命令 %3).</source>
        <translation>[%1]: no answer over UDP within %2 s (command %3).</translation>
    </message>
    <message>
        <source>[UDP]: 搜索结束: %1 有 %2 台设备应答.</source>
        <translation>[UDP]: Search done: %2 devices answered at %1.</translation>
    </message>
</context>
<context>
    <name>velmora::ConfigFormPage</name>
    <message>
        <source>本地端口</source>
        <translation>Local port</translation>
    </message>
    <message>
        <source>目标端口</source>
        <translation>Remote port</translation>
    </message>
    <message>
        <source>固件正在通过串口升级</source>
        <translation>Firmware upgrade running over serial</translation>
    </message>
    <message>
        <source>固件正在通过UDP升级</source>
        <translation>Firmware upgrade running over UDP</translation>
    </message>
    <message>
        <source>软件复位成功. </source>
        <translation>Software reset succeeded. </translation>
    </message>
    <message>
        <source>读取版本成功. </source>
        <translation>Version read. </translation>
    </message>
    <message>
        <source>获取CSQ应答不完整: 没有CSQ数据. </source>
        <translation>CSQ reply incomplete: no CSQ data. </translation>
    </message>
    <message>
        <source>获取CSQ成功,CSQ:%1 </source>
        <translation>CSQ read, CSQ:%1 </translation>
    </message>
    <message>
        <source>同步时钟应答不完整: 只有%1字节. </source>
        <translation>Clock reply incomplete: only %1 bytes. </translation>
    </message>
    <message>
        <source>同步时钟成功: %1 </source>
        <translation>Clock set: %1 </translation>
    </message>
</context>
<context>
    <name>velmora::ContactRecorder</name>
    <message>
        <source>[记录]: %1 条设备记录未写入: %2</source>
        <translation>[Register]: %1 device record(s) not written: %2</translation>
    </message>
</context>
<context>
    <name>velmora::DevicesDialog</name>
    <message>
        <source>设备列表</source>
        <translation>Devices</translation>
    </message>
    <message>
        <source>应答的设备(&amp;D):</source>
        <translation>&amp;Devices that answered:</translation>
    </message>
    <message>
        <source>应答的设备</source>
        <translation>Devices that answered</translation>
    </message>
    <message>
        <source>地址</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>版本</source>
        <translation>Version</translation>
    </message>
    <message>
        <source>MAC地址</source>
        <translation>MAC</translation>
    </message>
    <message>
        <source>本地IP</source>
        <translation>Local IP</translation>
    </message>
    <message>
        <source>身份</source>
        <translation>Identity</translation>
    </message>
    <message>
        <source>搜索</source>
        <translation>Search</translation>
    </message>
    <message>
        <source>连接</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>把选中设备的地址填入ENET页并打开UDP连接</source>
        <translation>Put the chosen device&apos;s address on the ENET page and open the UDP link</translation>
    </message>
    <message>
        <source>正在搜索 %1 ...</source>
        <translation>Searching %1 ...</translation>
    </message>
    <message>
        <source>在 %1 找到 %2 台设备.</source>
        <translation>%2 devices found at %1.</translation>
    </message>
    <message>
        <source>搜索会向ENET页的广播地址询问版本和配置.</source>
        <translation>Search asks the ENET page&apos;s broadcast address for version and configuration.</translation>
    </message>
    <message>
        <source>ENET页的广播地址 %1 不能用来搜索.</source>
        <translation>The ENET page&apos;s broadcast address %1 cannot be searched.</translation>
    </message>
    <message>
        <source>本地端口%1不可用,无法搜索.</source>
        <translation>Local port %1 is not available; cannot search.</translation>
    </message>
    <message>
        <source>重复: 另一台设备有相同的MAC或IP</source>
        <translation>Duplicate: another device has the same MAC or IP</translation>
    </message>
</context>
<context>
    <name>velmora::FirmwareDialog</name>
    <message>
        <source>打开文件的路径不正确,或不能为空！</source>
        <translation>The file path is wrong or empty!</translation>
    </message>
    <message>
        <source>无法打开固件文件,请检查文件路径!</source>
        <translation>Cannot open the firmware file, please check the file path!</translation>
    </message>
    <message>
        <source>固件文件超过4GB,无法升级!</source>
        <translation>The firmware file is larger than 4 GB and cannot be uploaded!</translation>
    </message>
    <message>
        <source>读取固件文件失败,升级已停止!</source>
        <translation>Reading the firmware file failed, the upgrade has stopped!</translation>
    </message>
    <message>
        <source>固件文件在升级过程中被改动,升级已停止!</source>
        <translation>The firmware file changed during the upgrade, the upgrade has stopped!</translation>
    </message>
    <message>
        <source>串口已断开,升级已停止!</source>
        <translation>The serial port was disconnected, the upgrade has stopped!</translation>
    </message>
    <message>
        <source>校验错误,升级失败!</source>
        <translation>Checksum error, the upgrade failed!</translation>
    </message>
    <message>
        <source>升级成功，等待从新启动</source>
        <translation>Upgrade succeeded, waiting for the restart</translation>
    </message>
    <message>
        <source>升级超时,请重试!</source>
        <translation>The upgrade timed out, please try again!</translation>
    </message>
    <message>
        <source>停止下载程序成功！</source>
        <translation>The download was stopped.</translation>
    </message>
    <message>
        <source>打开文件</source>
        <translation>Open file</translation>
    </message>
    <message>
        <source>文件名称</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>文件大小</source>
        <translation>File size</translation>
    </message>
    <message>
        <source>烧写进度</source>
        <translation>Upload progress</translation>
    </message>
    <message>
        <source> (串口)</source>
        <translation> (serial)</translation>
    </message>
</context>
<context>
    <name>velmora::IpAddressEdit</name>
    <message>
        <source>不是IP地址: %1</source>
        <translation>Not an IP address: %1</translation>
    </message>
    <message>
        <source>每段取值为 0 到 255</source>
        <translation>Each part is 0 to 255</translation>
    </message>
</context>
<context>
    <name>velmora::LogFindBar</name>
    <message>
        <source>查找</source>
        <translation>Find</translation>
    </message>
    <message>
        <source>未找到</source>
        <translation>Not found</translation>
    </message>
    <message>
        <source>上一个 (Shift+F3)</source>
        <translation>Previous (Shift+F3)</translation>
    </message>
    <message>
        <source>下一个 (F3)</source>
        <translation>Next (F3)</translation>
    </message>
    <message>
        <source>关闭 (Esc)</source>
        <translation>Close (Esc)</translation>
    </message>
</context>
<context>
    <name>velmora::MainWindow</name>
    <message>
        <source>文本文件 (*.txt);;所有文件 (*)</source>
        <translation>Text files (*.txt);;All files (*)</translation>
    </message>
    <message>
        <source>%1 已存在,替换它吗?</source>
        <translation>%1 already exists. Replace it?</translation>
    </message>
    <message>
        <source>日志未保存:
%1</source>
        <translation>Log not saved:
%1</translation>
    </message>
    <message>
        <source>[日志]: 会话日志无法打开 %1</source>
        <translation>[Log]: Cannot open the session log %1</translation>
    </message>
    <message>
        <source>[FOTA]: 固件正在通过串口升级,完成或停止后才能改用UDP.</source>
        <translation>[FOTA]: Firmware is being upgraded over serial; use UDP once it has finished or been stopped.</translation>
    </message>
    <message>
        <source>[FOTA]: 固件正在通过UDP升级,完成或停止后才能改用串口.</source>
        <translation>[FOTA]: Firmware is being upgraded over UDP; use serial once it has finished or been stopped.</translation>
    </message>
    <message>
        <source>配置文件</source>
        <translation>Profile</translation>
    </message>
    <message>
        <source>保存配置文件...</source>
        <translation>Save profile...</translation>
    </message>
    <message>
        <source>载入配置文件...</source>
        <translation>Load profile...</translation>
    </message>
    <message>
        <source>语言</source>
        <translation>Language</translation>
    </message>
    <message>
        <source>配置文件 (*.json);;所有文件 (*)</source>
        <translation>Profiles (*.json);;All files (*)</translation>
    </message>
    <message>
        <source>配置文件未保存:
%1</source>
        <translation>Profile not saved:
%1</translation>
    </message>
    <message>
        <source>[配置文件]: 已保存 %1</source>
        <translation>[Profile]: Saved %1</translation>
    </message>
    <message>
        <source>配置文件未载入:
%1</source>
        <translation>Profile not loaded:
%1</translation>
    </message>
    <message>
        <source>[配置文件]: 已载入 %1</source>
        <translation>[Profile]: Loaded %1</translation>
    </message>
    <message>
        <source>工具</source>
        <translation>Tools</translation>
    </message>
    <message>
        <source>固件升级</source>
        <translation>Firmware upgrade</translation>
    </message>
    <message>
        <source>广播地址 %1 上有 %2 台设备应答过:
%3

&quot;%4&quot; 会发往所有这些设备. 继续吗?</source>
        <translation>%2 devices have answered at the broadcast address %1:
%3

&quot;%4&quot; goes to all of them. Continue?</translation>
    </message>
    <message>
        <source>发送数据...</source>
        <translation>Send data...</translation>
    </message>
    <message>
        <source>设备记录...</source>
        <translation>Device records...</translation>
    </message>
    <message>
        <source>设备列表...</source>
        <translation>Devices...</translation>
    </message>
</context>
<context>
    <name>velmora::NetworkPage</name>
    <message>
        <source>打开</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>UDP_Server已断开连接:%1</source>
        <translation>UDP_Server disconnected: %1</translation>
    </message>
    <message>
        <source>连接的本地IP地址不能为空!</source>
        <translation>The local IP address to connect to must not be empty!</translation>
    </message>
    <message>
        <source>UDP_Server建立连接失败,本地端口%1不可用.</source>
        <translation>UDP_Server failed to connect: local port %1 is not available.</translation>
    </message>
    <message>
        <source>该端口需要root权限或CAP_NET_BIND_SERVICE能力,可执行: sudo setcap cap_net_bind_service=+ep %1</source>
        <translation>This port needs root or the CAP_NET_BIND_SERVICE capability; run: sudo setcap cap_net_bind_service=+ep %1</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>UDP_Server已建立连接:%1</source>
        <translation>UDP_Server connected: %1</translation>
    </message>
</context>
<context>
    <name>velmora::RecordsDialog</name>
    <message>
        <source>导出Excel成功!</source>
        <translation>Exported to Excel!</translation>
    </message>
    <message>
        <source>导出Excel失败,请检查Excel是否正常安装!</source>
        <translation>Export to Excel failed, please check that Excel is installed correctly!</translation>
    </message>
    <message>
        <source>成功</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>失败</source>
        <translation>Failed</translation>
    </message>
    <message>
        <source>设备记录无法打开:
%1</source>
        <translation>The device records cannot be opened:
%1</translation>
    </message>
    <message>
        <source>读取记录失败:
%1</source>
        <translation>Reading the records failed:
%1</translation>
    </message>
    <message>
        <source>设备记录只能读取, 不会再写入:
%1</source>
        <translation>The device records can only be read; nothing more is written to them:
%1</translation>
    </message>
    <message>
        <source>清空全部设备记录吗? 清空后不能恢复.</source>
        <translation>Clear all device records? They cannot be brought back.</translation>
    </message>
    <message>
        <source>清空记录失败:
%1</source>
        <translation>Clearing the records failed:
%1</translation>
    </message>
</context>
<context>
    <name>velmora::SendDialog</name>
    <message>
        <source>串口</source>
        <translation>Serial</translation>
    </message>
    <message>
        <source>未打开</source>
        <translation>None open</translation>
    </message>
    <message>
        <source>没有打开的链路: 请先在USART页打开串口或在ENET页打开UDP.</source>
        <translation>No link is open: open the serial port on the USART page or UDP on the ENET page first.</translation>
    </message>
    <message>
        <source>没有要发送的数据.</source>
        <translation>There is nothing to send.</translation>
    </message>
    <message>
        <source>第%1个字符“%2”不是十六进制数字: 十六进制数据只能是十六进制数字和空格.</source>
        <translation>Character %1 (“%2”) is not a hex digit: hex data holds only hex digits and spaces.</translation>
    </message>
    <message>
        <source>第%1个字符“%2”缺少另一位: 每个字节是两位十六进制数字.</source>
        <translation>Character %1 (“%2”) lacks its second digit: each byte is two hex digits.</translation>
    </message>
    <message>
        <source>第%1个字符“%2”无法用GBK编码发送.</source>
        <translation>Character %1 (“%2”) cannot be sent: GBK has no code for it.</translation>
    </message>
</context>
<context>
    <name>velmora::SerialPage</name>
    <message>
        <source>序列号 %1</source>
        <translation>S/N %1</translation>
    </message>
    <message>
        <source>[COM]: 串口设备已移除:%1</source>
        <translation>[COM]: Serial device removed: %1</translation>
    </message>
    <message>
        <source>[COM]: 串口设备已重新连接,已重新打开:%1</source>
        <translation>[COM]: Serial device reconnected, reopened: %1</translation>
    </message>
    <message>
        <source>[COM]: 关闭串口成功.</source>
        <translation>[COM]: Serial port closed.</translation>
    </message>
    <message>
        <source>[COM]: 波特率无效:%1</source>
        <translation>[COM]: Invalid baud rate: %1</translation>
    </message>
    <message>
        <source>[COM]: 校验方式无效:%1</source>
        <translation>[COM]: Invalid parity: %1</translation>
    </message>
    <message>
        <source>[COM]: 打开串口失败:%1</source>
        <translation>[COM]: Failed to open serial port: %1</translation>
    </message>
    <message>
        <source>[COM]: 打开串口成功.</source>
        <translation>[COM]: Serial port opened.</translation>
    </message>
    <message>
        <source>[COM]: 串口已断开,发送失败,已关闭串口.</source>
        <translation>[COM]: Serial port disconnected, send failed, port closed.</translation>
    </message>
    <message>
        <source>[COM]: 串口发送失败,数据未发出.</source>
        <translation>[COM]: Serial send failed, the data was not sent.</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>打开</source>
        <translation>Open</translation>
    </message>
</context>
<context>
    <name>velmora::UdpEndpoint</name>
    <message>
        <source>UDP连接已经关闭!</source>
        <translation>The UDP link is closed!</translation>
    </message>
    <message>
        <source>接受数据失败!</source>
        <translation>Receiving data failed!</translation>
    </message>
    <message>
        <source>UDP发送失败,请先打开UDP服务:%1</source>
        <translation>UDP send failed, please open the UDP service first: %1</translation>
    </message>
</context>
</TS>
