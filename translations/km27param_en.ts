<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>CHelpViewer</name>
    <message>
        <source>KM27A - 记事本</source>
        <translation>KM27A - Help</translation>
    </message>
</context>
<context>
    <name>CParamApp</name>
    <message>
        <source>参数设置工具</source>
        <translation>Parameter Setting Tool</translation>
    </message>
    <message>
        <source>工作目录不可用：
%1
原因：%2</source>
        <translation>The working folder cannot be used:
%1
Reason: %2</translation>
    </message>
</context>
<context>
    <name>CParamDlg</name>
    <message>
        <source>上传</source>
        <translation>Upload</translation>
    </message>
    <message>
        <source>下载</source>
        <translation>Download</translation>
    </message>
    <message>
        <source>清空</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>上移</source>
        <translation>Move up</translation>
    </message>
    <message>
        <source>下移</source>
        <translation>Move down</translation>
    </message>
    <message>
        <source>删除</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>添加</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>参数设置工具</source>
        <translation>Parameter Setting Tool</translation>
    </message>
    <message>
        <source>下载在进行中被中断：下位机中的程序可能不完整，请重新下载。</source>
        <translation>The download was cut short: the programme in the device may be incomplete. Please download again.</translation>
    </message>
    <message>
        <source>重试(&amp;R)</source>
        <translation>&amp;Retry</translation>
    </message>
    <message>
        <source>取消(&amp;C)</source>
        <translation>&amp;Cancel</translation>
    </message>
    <message>
        <source>放弃(&amp;D)</source>
        <translation>&amp;Discard</translation>
    </message>
    <message>
        <source>传输记录无法写入：%1</source>
        <translation>The transfer log cannot be written: %1</translation>
    </message>
    <message>
        <source>下载后校验</source>
        <translation>Verify after download</translation>
    </message>
    <message>
        <source>端口设置(&amp;T)...</source>
        <translation>Port se&amp;ttings...</translation>
    </message>
    <message>
        <source>传输记录(&amp;L)...</source>
        <translation>Transfer &amp;log...</translation>
    </message>
    <message>
        <source>参数文件 %1 中有下位机无法执行的内容：
%2</source>
        <translation>The parameter file %1 holds what the device cannot carry out:
%2</translation>
    </message>
    <message>
        <source>通信正常</source>
        <translation>Communication working</translation>
    </message>
    <message>
        <source>通信中断：未找到下位机</source>
        <translation>Communication down: no device found</translation>
    </message>
    <message>
        <source>通信中断：
%1</source>
        <translation>Communication down:
%1</translation>
    </message>
    <message>
        <source>线路</source>
        <translation>Line setting</translation>
    </message>
    <message>
        <source>程序表中有下位机无法执行的内容：
%1

下载会把它们原样发给下位机。仍要下载吗？</source>
        <translation>The programme table holds what the device cannot carry out:
%1

A download sends it to the device as it is. Download anyway?</translation>
    </message>
    <message>
        <source>仍然下载(&amp;Y)</source>
        <translation>Download an&amp;yway</translation>
    </message>
    <message>
        <source>参数数据已上传，但设备信息文件无法保存：
%1
原因：%2

本次收到的设备信息仍用于下次下载，直到程序关闭。</source>
        <translation>The parameters were uploaded, but the device information file cannot be saved:
%1
Reason: %2

The device information received is still used for the next download until the program closes.</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>查看差异(&amp;V)</source>
        <translation>&amp;View difference</translation>
    </message>
    <message>
        <source>无法创建帮助文件：
%1
原因：%2</source>
        <translation>Cannot create the help file:
%1
Reason: %2</translation>
    </message>
    <message>
        <source>无法读取帮助文件：
%1
原因：%2</source>
        <translation>Cannot read the help file:
%1
Reason: %2</translation>
    </message>
    <message>
        <source>%1 已被修改或来自其他文件，保持不变；本窗口的程序表另存为 %2</source>
        <translation>%1 was changed elsewhere or the programme came from another file: the file stays as it is; this window&apos;s programme table was saved as %2</translation>
    </message>
    <message>
        <source>本窗口的程序表无法保存：%1
原因：%2</source>
        <translation>This window&apos;s programme table cannot be saved: %1
Reason: %2</translation>
    </message>
    <message>
        <source>参数文件在本窗口读取或保存之后已被修改（另一个窗口、命令行工具或编辑器）：
%1
修改时间：%2

“覆盖”：用本窗口的程序表替换它，文件中的修改将丢失；
“另存为…”：把本窗口的程序表存为另一个文件，参数文件保持不变，然后关闭窗口；
“取消”：回到窗口。</source>
        <translation>The parameter file was changed after this window read or saved it (by another window, the command-line tool or an editor):
%1
Changed: %2

“Overwrite”: replace it with this window&apos;s programme table; the changes in the file are lost;
“Save as…”: save this window&apos;s programme table as another file, leave the parameter file as it is, then close the window;
“Cancel”: back to the window.</translation>
    </message>
    <message>
        <source>覆盖(&amp;O)</source>
        <translation>&amp;Overwrite</translation>
    </message>
    <message>
        <source>另存为(&amp;S)…</source>
        <translation>&amp;Save as…</translation>
    </message>
    <message>
        <source>本窗口的程序表来自另一个文件：
%1
与参数文件的内容不同：
%2

“保存到工作文件”：用本窗口的程序表替换参数文件；
“不保存”：参数文件保持不变，关闭窗口；
“取消”：回到窗口。</source>
        <translation>This window&apos;s programme table came from another file:
%1
It differs from the parameter file:
%2

“Save to working file”: replace the parameter file with this window&apos;s programme table;
“Don&apos;t save”: leave the parameter file as it is and close the window;
“Cancel”: back to the window.</translation>
    </message>
    <message>
        <source>保存到工作文件(&amp;S)</source>
        <translation>&amp;Save to working file</translation>
    </message>
    <message>
        <source>不保存(&amp;N)</source>
        <translation>Do&amp;n&apos;t save</translation>
    </message>
    <message>
        <source>参数文件保存失败：%1
原因：%2</source>
        <translation>The parameter file could not be saved: %1
Reason: %2</translation>
    </message>
    <message>
        <source>参数文件保存失败：
%1
原因：%2

“重试”：再次保存；
“取消”：回到窗口，程序表保留；
“放弃”：不保存本次修改，关闭窗口（原文件不变）。</source>
        <translation>The parameter file could not be saved:
%1
Reason: %2

“Retry”: save again;
“Cancel”: back to the window, the programme table is kept;
“Discard”: close the window without saving these changes (the file stays as it was).</translation>
    </message>
    <message>
        <source>正在与下位机传输数据。

“等待传输结束”：传输结束后窗口自动保存并退出；
“仍然退出”：立即中断传输并退出。</source>
        <translation>A transfer with the device is under way.

“Wait for the end”: the window saves and exits by itself when the transfer ends;
“Quit anyway”: cut the transfer short and exit now.</translation>
    </message>
    <message>
        <source>等待传输结束(&amp;W)</source>
        <translation>&amp;Wait for the end</translation>
    </message>
    <message>
        <source>仍然退出(&amp;Q)</source>
        <translation>&amp;Quit anyway</translation>
    </message>
    <message>
        <source>传输结束后将自动保存并退出…</source>
        <translation>Saving and exiting when the transfer ends…</translation>
    </message>
</context>
<context>
    <name>CPortSettingsDlg</name>
    <message>
        <source>更改从下一次搜索起生效。</source>
        <translation>Changes apply from the next search.</translation>
    </message>
    <message>
        <source>自动</source>
        <translation>automatic</translation>
    </message>
    <message>
        <source>无</source>
        <translation>none</translation>
    </message>
    <message>
        <source>无法写入 %1 (%2)。</source>
        <translation>Cannot write to %1 (%2).</translation>
    </message>
    <message>
        <source>请输入设备路径（如 /dev/ttyUSB0）或网址（如 rfc2217://主机:4001）。</source>
        <translation>Enter a device path (e.g. /dev/ttyUSB0) or an address (e.g. rfc2217://host:4001).</translation>
    </message>
    <message>
        <source>%1 未更改：%2。</source>
        <translation>%1 not changed: %2.</translation>
    </message>
    <message>
        <source>%1 未更改：设备路径须以 / 开头（如 /dev/ttyUSB0）。</source>
        <translation>%1 not changed: a device path begins with / (e.g. /dev/ttyUSB0).</translation>
    </message>
    <message>
        <source>%1 已设为 %2，从下一次搜索起生效。</source>
        <translation>%1 is set to %2, from the next search on.</translation>
    </message>
    <message>
        <source>%1 已清除，从下一次搜索起生效。</source>
        <translation>%1 is cleared, from the next search on.</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>用法：km27param [--workdir 目录 | --desktop] [--log 文件 | --no-log] [--lang zh|en]
                [--help | --version]

KM27A 发码箱与 KM27C 发码器的参数设置工具（窗口程序）。启动后选择下位机，
在主窗口中编辑程序，程序保存在工作目录的 KM27A.dat 中（还有 DDINFO.txt、KM27A.txt）。

  --workdir 目录  以该目录为工作目录（不存在则建立）；不给出时为当前目录
  --desktop       从桌面菜单启动：以每个用户自己的目录为工作目录，
                  即 $XDG_DATA_HOME/km27param（通常为 ~/.local/share/km27param）
  --log 文件      每次下载、上传记入该文件（每行一条 JSON）；不给出时为环境变量
                  KM27_LOG 所指的文件，否则为 $XDG_STATE_HOME/km27param/transfers.jsonl
                  （通常为 ~/.local/state/km27param/transfers.jsonl），与 km27ctl 共用
  --no-log        不记录传输
  --lang zh|en    界面语言：zh 中文，en 英文；不给出时为右键菜单“语言”中所选，
                  否则随系统的语言环境
  --help, -h      显示本帮助
  --version, -V   显示版本

命令行工具见 km27ctl --help。
</source>
        <translation>Usage: km27param [--workdir DIR | --desktop] [--log FILE | --no-log] [--lang zh|en]
                 [--help | --version]

The parameter-setting tool (window program) for the KM27A code box and the KM27C code
transmitter. Pick the device at start-up, then edit the programme in the main window; it is
kept in KM27A.dat in the working folder (with DDINFO.txt and KM27A.txt).

  --workdir DIR   work in DIR (made when missing); the current folder otherwise
  --desktop       started from the desktop&apos;s menu: work in each user&apos;s own folder,
                  $XDG_DATA_HOME/km27param (usually ~/.local/share/km27param)
  --log FILE      record every download and upload in FILE (one JSON line each); otherwise
                  in the file the environment variable KM27_LOG names, else in
                  $XDG_STATE_HOME/km27param/transfers.jsonl
                  (usually ~/.local/state/km27param/transfers.jsonl), shared with km27ctl
  --no-log        record no transfers
  --lang zh|en    interface language: zh Chinese, en English; otherwise the one chosen
                  in the right-click menu&apos;s Language, else the system&apos;s locale
  --help, -h      show this help
  --version, -V   show the version

For the command-line tool see km27ctl --help.
</translation>
    </message>
    <message>
        <source>km27param: --log 需要一个文件
</source>
        <translation>km27param: --log needs a file
</translation>
    </message>
    <message>
        <source>km27param: --workdir 需要一个目录
</source>
        <translation>km27param: --workdir needs a folder
</translation>
    </message>
    <message>
        <source>km27param: --lang 需要 zh 或 en
</source>
        <translation>km27param: --lang needs zh or en
</translation>
    </message>
    <message>
        <source>km27param: --lang 需要 zh 或 en，而不是“%1”
</source>
        <translation>km27param: --lang needs zh or en, not &quot;%1&quot;
</translation>
    </message>
</context>
<context>
    <name>Dialogs</name>
    <message>
        <source>关于 KM27A</source>
        <translation>About KM27A</translation>
    </message>
    <message>
        <source>KM27A 2.1版</source>
        <translation>KM27A version 2.1</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>下位机选择</source>
        <translation>Choose the device</translation>
    </message>
    <message>
        <source>确认</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>KM27C通用机车信号发码器</source>
        <translation>KM27C code transmitter</translation>
    </message>
    <message>
        <source>KM27A通用机车信号发码箱</source>
        <translation>KM27A code box</translation>
    </message>
    <message>
        <source>下位机类型</source>
        <translation>Device type</translation>
    </message>
    <message>
        <source>端口设置</source>
        <translation>Port settings</translation>
    </message>
    <message>
        <source>各端口所指</source>
        <translation>What each port names</translation>
    </message>
    <message>
        <source>端口</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>设备或网址</source>
        <translation>Device/URL</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Set</translation>
    </message>
    <message>
        <source>清除</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>参数设置工具</source>
        <translation>Parameter Setting Tool</translation>
    </message>
    <message>
        <source>无</source>
        <translation>None</translation>
    </message>
    <message>
        <source>添加</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>移频</source>
        <translation>FSK</translation>
    </message>
    <message>
        <source>上 传</source>
        <translation>Upload</translation>
    </message>
    <message>
        <source>下 载</source>
        <translation>Download</translation>
    </message>
    <message>
        <source>清 空</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>退 出</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>上移</source>
        <translation>Up</translation>
    </message>
    <message>
        <source>下移</source>
        <translation>Down</translation>
    </message>
    <message>
        <source>删除</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>命令发送状态</source>
        <translation>Command status</translation>
    </message>
    <message>
        <source>交流计数</source>
        <translation>AC counting</translation>
    </message>
    <message>
        <source>线路</source>
        <translation>Line</translation>
    </message>
</context>
<context>
    <name>LanguageMenu</name>
    <message>
        <source>语言</source>
        <translation>Language</translation>
    </message>
    <message>
        <source>中文</source>
        <translation>Chinese</translation>
    </message>
    <message>
        <source>English</source>
        <translation>English</translation>
    </message>
    <message>
        <source>所选的界面语言在下次启动时生效。</source>
        <translation>The chosen language applies at the next start.</translation>
    </message>
</context>
<context>
    <name>OverviewPicture</name>
    <message>
        <source>%1 秒</source>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>图例：</source>
        <translation>Legend: </translation>
    </message>
    <message>
        <source>程序表中没有步骤</source>
        <translation>The programme table has no steps</translation>
    </message>
    <message>
        <source>&#x3000;&#x3000;线路：%1</source>
        <translation>    Line: %1</translation>
    </message>
    <message>
        <source>秒</source>
        <translation>s</translation>
    </message>
    <message>
        <source>程序指纹 %1…</source>
        <translation>Fingerprint %1…</translation>
    </message>
    <message>
        <source>程序总览</source>
        <translation>Programme overview</translation>
    </message>
</context>
<context>
    <name>ProgrammeRecord</name>
    <message>
        <source>步</source>
        <translation>Step</translation>
    </message>
    <message>
        <source>低频</source>
        <translation>Code</translation>
    </message>
    <message>
        <source>时间(秒)</source>
        <translation>Time (s)</translation>
    </message>
    <message>
        <source>累计(秒)</source>
        <translation>Total (s)</translation>
    </message>
    <message>
        <source>第 %1 页，共 %2 页</source>
        <translation>Page %1 of %2</translation>
    </message>
    <message>
        <source>文件：%1%2</source>
        <translation>File: %1%2</translation>
    </message>
    <message>
        <source>（打开或保存后又有修改）</source>
        <translation> (changed since it was opened or saved)</translation>
    </message>
    <message>
        <source>日期时间：%1</source>
        <translation>Date and time: %1</translation>
    </message>
    <message>
        <source>下位机：%1</source>
        <translation>Device: %1</translation>
    </message>
    <message>
        <source>统计：类型 %1，载频 %2，低频 %3</source>
        <translation>Counts: types %1, carriers %2, codes %3</translation>
    </message>
    <message>
        <source>程序指纹：%1</source>
        <translation>Fingerprint: %1</translation>
    </message>
    <message>
        <source>最近一次传输：%1</source>
        <translation>Last transfer: %1</translation>
    </message>
    <message>
        <source>无记录</source>
        <translation>none recorded</translation>
    </message>
    <message>
        <source>参数设置记录</source>
        <translation>Parameter Setting Record</translation>
    </message>
    <message>
        <source>设备信息（下位机的 96 个设备信息值）</source>
        <translation>Device information (the 96 values of the device)</translation>
    </message>
    <message>
        <source>%1：%2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>线路设置&#x3000;%1</source>
        <translation>Line settings   %1</translation>
    </message>
    <message>
        <source>&#x3000;&#x3000;</source>
        <comment>between the line settings</comment>
        <translation>    </translation>
    </message>
    <message>
        <source>程序总览</source>
        <translation>Programme overview</translation>
    </message>
    <message>
        <source>各载频程序：程序表中没有步骤</source>
        <translation>Programme per carrier: the programme table has no steps</translation>
    </message>
    <message>
        <source>各载频程序</source>
        <translation>Programme per carrier</translation>
    </message>
    <message>
        <source>%1&#x3000;%2</source>
        <translation>%1  %2</translation>
    </message>
    <message>
        <source>%1（续）</source>
        <translation>%1 (continued)</translation>
    </message>
    <message>
        <source>循环合计 %1 秒</source>
        <translation>Cycle total %1 s</translation>
    </message>
    <message>
        <source>编制：</source>
        <translation>Drawn up by: </translation>
    </message>
    <message>
        <source>复核：</source>
        <translation>Checked by: </translation>
    </message>
    <message>
        <source>日期：</source>
        <translation>Date: </translation>
    </message>
    <message>
        <source>参数设置工具</source>
        <translation>Parameter Setting Tool</translation>
    </message>
</context>
<context>
    <name>Strings</name>
    <message>
        <source>关于 KM27A(&amp;A)...</source>
        <translation>&amp;About KM27A...</translation>
    </message>
</context>
<context>
    <name>km27::ui::COverviewWindow</name>
    <message>
        <source>程序总览</source>
        <translation>Programme overview</translation>
    </message>
    <message>
        <source>保存为PNG...</source>
        <translation>Save as PNG...</translation>
    </message>
    <message>
        <source>保存为SVG...</source>
        <translation>Save as SVG...</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>km27::ui::DifferenceView</name>
    <message>
        <source>空</source>
        <translation>empty</translation>
    </message>
    <message>
        <source>查看差异</source>
        <translation>Difference</translation>
    </message>
    <message>
        <source>下位机读回的参数与下发的不同：%1 个步骤、%2 处其他字节，共 %3 个字节。标红的步骤：上行为下发的，下行为下位机读回的。</source>
        <translation>The parameters read back from the device differ from those sent. Steps: %1; other bytes: %2; bytes in all: %3. Steps marked red: the upper line as sent, the lower as read back.</translation>
    </message>
    <message>
        <source>读回 %1</source>
        <translation>read back %1</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>km27::ui::OverviewCanvas</name>
    <message>
        <source>单击一行，在主窗口中选择该载频</source>
        <translation>Click a row to select its carrier in the main window</translation>
    </message>
</context>
<context>
    <name>km27::ui::ProgrammeDocuments</name>
    <message>
        <source>参数文件 (*.dat)</source>
        <translation>Parameter files (*.dat)</translation>
    </message>
    <message>
        <source>表格 (*.csv)</source>
        <translation>Tables (*.csv)</translation>
    </message>
    <message>
        <source>所有文件 (*)</source>
        <translation>All files (*)</translation>
    </message>
    <message>
        <source>文件夹</source>
        <translation>Folder</translation>
    </message>
    <message>
        <source>链接</source>
        <translation>Link</translation>
    </message>
    <message>
        <source>文件</source>
        <translation>File</translation>
    </message>
    <message>
        <source>%1 文件</source>
        <translation>%1 file</translation>
    </message>
    <message>
        <source>打印参数记录</source>
        <translation>Print the parameter record</translation>
    </message>
    <message>
        <source>打开(&amp;O)...</source>
        <translation>&amp;Open...</translation>
    </message>
    <message>
        <source>最近打开的文件(&amp;F)</source>
        <translation>Recent &amp;files</translation>
    </message>
    <message>
        <source>另存为(&amp;S)...</source>
        <translation>&amp;Save as...</translation>
    </message>
    <message>
        <source>程序总览(&amp;G)</source>
        <translation>Pro&amp;gramme overview</translation>
    </message>
    <message>
        <source>打印(&amp;P)...</source>
        <translation>&amp;Print...</translation>
    </message>
    <message>
        <source>导出PDF(&amp;D)...</source>
        <translation>Export P&amp;DF...</translation>
    </message>
    <message>
        <source>导入表格(&amp;I)...</source>
        <translation>&amp;Import table...</translation>
    </message>
    <message>
        <source>导出表格(&amp;E)...</source>
        <translation>&amp;Export table...</translation>
    </message>
    <message>
        <source>打开参数文件</source>
        <translation>Open parameter file</translation>
    </message>
    <message>
        <source>程序另存为</source>
        <translation>Save programme as</translation>
    </message>
    <message>
        <source>无法保存参数文件</source>
        <translation>Cannot save the parameter file</translation>
    </message>
    <message>
        <source>已另存为 %1</source>
        <translation>Saved as %1</translation>
    </message>
    <message>
        <source>导入表格</source>
        <translation>Import table</translation>
    </message>
    <message>
        <source>已导入表格 %1：%2</source>
        <translation>Imported table %1: %2</translation>
    </message>
    <message>
        <source>表格无法准确表示此程序表的全部内容：
%1

仍要导出吗？</source>
        <translation>A table cannot hold everything in this programme table exactly:
%1

Export anyway?</translation>
    </message>
    <message>
        <source>导出表格</source>
        <translation>Export table</translation>
    </message>
    <message>
        <source>无法导出表格</source>
        <translation>Cannot export the table</translation>
    </message>
    <message>
        <source>已导出表格 %1</source>
        <translation>Exported table %1</translation>
    </message>
    <message>
        <source>总览保存为SVG</source>
        <translation>Save overview as SVG</translation>
    </message>
    <message>
        <source>总览保存为PNG</source>
        <translation>Save overview as PNG</translation>
    </message>
    <message>
        <source>SVG 图片 (*.svg)</source>
        <translation>SVG images (*.svg)</translation>
    </message>
    <message>
        <source>PNG 图片 (*.png)</source>
        <translation>PNG images (*.png)</translation>
    </message>
    <message>
        <source>无法保存总览图</source>
        <translation>Cannot save the overview picture</translation>
    </message>
    <message>
        <source>已保存总览图 %1</source>
        <translation>Saved the overview picture %1</translation>
    </message>
    <message>
        <source>参数设置记录</source>
        <translation>Parameter Setting Record</translation>
    </message>
    <message numerus="yes">
        <source>已打印参数记录，共 %n 页</source>
        <translation>
            <numerusform>Printed the parameter record, %n page</numerusform>
            <numerusform>Printed the parameter record, %n pages</numerusform>
        </translation>
    </message>
    <message>
        <source>导出PDF</source>
        <translation>Export PDF</translation>
    </message>
    <message>
        <source>PDF 文件 (*.pdf)</source>
        <translation>PDF files (*.pdf)</translation>
    </message>
    <message>
        <source>无法导出PDF</source>
        <translation>Cannot export the PDF</translation>
    </message>
    <message numerus="yes">
        <source>已导出PDF %1（%n 页）</source>
        <translation>
            <numerusform>Exported PDF %1 (%n page)</numerusform>
            <numerusform>Exported PDF %1 (%n pages)</numerusform>
        </translation>
    </message>
    <message>
        <source>无法打开参数文件</source>
        <translation>Cannot open the parameter file</translation>
    </message>
    <message>
        <source>无法导入表格</source>
        <translation>Cannot import the table</translation>
    </message>
    <message>
        <source>打开 %1</source>
        <translation>Open %1</translation>
    </message>
    <message>
        <source>导入 %1</source>
        <translation>Import %1</translation>
    </message>
    <message>
        <source>已打开 %1</source>
        <translation>Opened %1</translation>
    </message>
    <message>
        <source>已导入表格 %1</source>
        <translation>Imported table %1</translation>
    </message>
    <message>
        <source>%1 中有下位机无法执行的内容：
%2</source>
        <translation>%1 holds what the device cannot carry out:
%2</translation>
    </message>
    <message>
        <source>%1：
%2
原因：%3</source>
        <translation>%1:
%2
Reason: %3</translation>
    </message>
    <message>
        <source>程序表没有改变。</source>
        <translation>The programme table is unchanged.</translation>
    </message>
</context>
<context>
    <name>km27::ui::ProgrammeHistory</name>
    <message>
        <source>撤销(&amp;U)</source>
        <translation>&amp;Undo</translation>
    </message>
    <message>
        <source>重做(&amp;R)</source>
        <translation>&amp;Redo</translation>
    </message>
</context>
<context>
    <name>km27::ui::TransferLogWindow</name>
    <message>
        <source>下载</source>
        <translation>Download</translation>
    </message>
    <message>
        <source>上传</source>
        <translation>Upload</translation>
    </message>
    <message>
        <source>校验</source>
        <translation>Verify</translation>
    </message>
    <message>
        <source>成功</source>
        <translation>succeeded</translation>
    </message>
    <message>
        <source>被拒绝</source>
        <translation>refused</translation>
    </message>
    <message>
        <source>传输失败</source>
        <translation>transfer failed</translation>
    </message>
    <message>
        <source>校验不一致</source>
        <translation>verification mismatch</translation>
    </message>
    <message>
        <source>读回失败</source>
        <translation>read-back failed</translation>
    </message>
    <message>
        <source>中断</source>
        <translation>interrupted</translation>
    </message>
    <message>
        <source>（%1）</source>
        <translation> (%1)</translation>
    </message>
    <message>
        <source>传输记录</source>
        <translation>Transfer log</translation>
    </message>
    <message>
        <source>筛选：</source>
        <translation>Filter:</translation>
    </message>
    <message>
        <source>任一列或程序文件中的文字</source>
        <translation>Text in any column or in the programme file</translation>
    </message>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>操作</source>
        <translation>Action</translation>
    </message>
    <message>
        <source>型号</source>
        <translation>Model</translation>
    </message>
    <message>
        <source>端口</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>结果</source>
        <translation>Result</translation>
    </message>
    <message>
        <source>程序指纹</source>
        <translation>Fingerprint</translation>
    </message>
    <message>
        <source>本次启动不记录传输（--no-log）。</source>
        <translation>Transfers are not recorded in this session (--no-log).</translation>
    </message>
    <message>
        <source>记录文件：%1</source>
        <translation>Log file: %1</translation>
    </message>
    <message>
        <source>打开程序文件</source>
        <translation>Open programme file</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>这次传输没有记下程序文件。</source>
        <translation>This transfer recorded no programme file.</translation>
    </message>
    <message>
        <source>程序文件已不存在：
%1</source>
        <translation>The programme file no longer exists:
%1</translation>
    </message>
    <message>
        <source>程序文件无法读取：
%1
原因：%2</source>
        <translation>The programme file cannot be read:
%1
Reason: %2</translation>
    </message>
    <message>
        <source>程序文件在这次传输之后已被修改，不是当时传输的程序：
%1

记录的指纹：%2</source>
        <translation>The programme file was changed after this transfer; it is not the programme transferred then:
%1

Recorded fingerprint: %2</translation>
    </message>
</context>
</TS>
