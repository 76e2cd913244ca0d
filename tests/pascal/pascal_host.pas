{ A station host as the station applications are written: Free Pascal for
  32-bit Windows, loading ZarvoDll.dll at run time, with its own port object,
  its own exceptions and its own menu. Runs under wine; the last line reads
  "N passed, M failed".

  Usage: pascal_host DLL calls [--libgcc-first] | menu | no-menu
    calls    failures on a line, the port's own exception, the destructor
    menu     a window whose menu bar has "&ТРК": the entry, its command, OK
    no-menu  a window without it: nothing changes
  --libgcc-first loads libgcc_s_dw2-1.dll before the DLL, as another plugin
  built with MinGW would. }
program pascal_host;

{$mode objfpc}{$H+}
{$modeswitch nestedprocvars}
{$asmmode intel}

uses
  Windows, SysUtils;

const
  ZarvoExceptionCode = $E05A5256;
  KindException = 1;
  KindSerialIO = 2;
  Syn = $16;
  NoReply = 1; { the port's result for a line that stayed silent }

  { Code page 1251, byte for byte. }
  CantGetSost = 'Can''t GetSost';
  PumpOutOfRange = #$CD#$EE#$EC#$E5#$F0' '#$EA#$EE#$EB#$EE#$ED#$EA#$E8' '#$E2#$FB#$F5#$EE#$E4#$E8
    + #$F2' '#$E7#$E0' '#$E4#$EE#$EF#$F3#$F1#$F2#$E8#$EC#$FB#$E9' '#$E4#$E8#$E0#$EF#$EE#$E7#$EE#$ED;
  PumpsCaption = '&'#$D2#$D0#$CA;
  FileCaption = '&'#$D4#$E0#$E9#$EB;
  EntryCaption = #$CF#$F0#$EE#$E3#$F0#$E0#$EC#$EC#$E8#$F0#$EE#$E2#$E0#$ED#$E8#$E5' '#$EF#$E0#$F0
    + #$E0#$EC#$E5#$F2#$F0#$EE#$E2' (Zarvo)';
  FormCaption = #$CD#$E0#$F1#$F2#$F0#$EE#$E9#$EA#$E0' '#$D2#$D0#$CA' Zarvo';

type
  TBytes = array of Byte;

  { The driver as da30.h declares it: the object's first word points at
    slot 0; the destroy entry sits just before it. }
  TGetDA30 = function(Reserved8: LongWord; AppWindow: HWND; Port: Pointer): Pointer; stdcall;
  TReadPumpState = function(Self: Pointer; Line: LongInt; Pump8: LongWord): LongWord; stdcall;
  TAddMenuItems = procedure(Self: Pointer; Root: Pointer; NewItem: Pointer); stdcall;
  { How this language calls the root class's destructor. }
  TDestroyEntry = procedure(Self: Pointer; Outermost: ShortInt); register;
  PSlots = ^TSlots;
  TSlots = array[0..26] of Pointer;

  TReplyCheck = function(Context: Pointer; Line: LongWord; RxBuf: PByte; Ignored1: LongWord;
    Stored: PByte; Ignored2: LongWord): LongWord; stdcall;

  { The port object: the first word points at its 20-entry table. }
  PPascalPort = ^TPascalPort;
  TPascalPort = record
    Table: ^TPortTable;
    Check: TReplyCheck;
    Context: Pointer;
    RxState: LongInt;
    Reply: TBytes;      { the next exchange's reply; empty: the line stays silent }
    Raises: Boolean;    { the next exchange raises this language's exception }
    Stray: LongInt;     { calls outside the port contract }
  end;
  TPortTable = array[0..19] of Pointer;

  { A menu item of this host's own kind: the driver must not call it. }
  PForeignItem = ^TForeignItem;
  TForeignItem = record
    Table: ^TForeignTable;
  end;
  TForeignTable = array[0..7] of Pointer;

var
  Passed: Integer = 0;
  Failed: Integer = 0;
  Port: TPascalPort;
  PortTable: TPortTable;
  ForeignCalls: LongInt = 0;
  ForeignTable: TForeignTable;
  ForeignRoot: TForeignItem;
  GetDA30: TGetDA30;

procedure Check(Ok: Boolean; const What: string);
begin
  if Ok then
  begin
    Inc(Passed);
    WriteLn('ok: ', What);
  end
  else
  begin
    Inc(Failed);
    WriteLn('FAILED: ', What);
  end;
end;

function Utf8Of(const Cp1251: ShortString): ShortString;
var
  Wide: array[0..255] of WideChar;
  Count: LongInt;
begin
  Count := MultiByteToWideChar(1251, 0, @Cp1251[1], Length(Cp1251), @Wide[0], 256);
  Result[0] := Chr(WideCharToMultiByte(CP_UTF8, 0, @Wide[0], Count, @Result[1], 255, nil, nil));
end;

function WideOf(const Cp1251: ShortString): UnicodeString;
begin
  SetLength(Result, Length(Cp1251));
  SetLength(Result, MultiByteToWideChar(1251, 0, @Cp1251[1], Length(Cp1251), PWideChar(Result),
    Length(Cp1251)));
end;

{ ---- the port object ---------------------------------------------------- }

function Crc16Kermit(const Bytes: TBytes; From: Integer): Word;
var
  I, Bit: Integer;
begin
  Result := 0;
  for I := From to High(Bytes) do
  begin
    Result := Result xor Bytes[I];
    for Bit := 1 to 8 do
      if Result and 1 <> 0 then
        Result := (Result shr 1) xor $8408
      else
        Result := Result shr 1;
  end;
end;

{ SYN SYN, address, length, type, data, CRC-16/KERMIT low byte first. }
function ReplyFrame(Address: Byte; Kind: AnsiChar; const Data: ShortString): TBytes;
var
  I: Integer;
  Crc: Word;
begin
  Result := nil;
  SetLength(Result, Length(Data) + 7);
  Result[0] := Syn;
  Result[1] := Syn;
  Result[2] := Address;
  Result[3] := Length(Data) + 1;
  Result[4] := Ord(Kind);
  for I := 1 to Length(Data) do
    Result[4 + I] := Ord(Data[I]);
  Crc := Crc16Kermit(Copy(Result, 0, Length(Result) - 2), 2);
  Result[High(Result) - 1] := Lo(Crc);
  Result[High(Result)] := Hi(Crc);
end;

procedure PortUnused(Port: PPascalPort); stdcall;
begin
  Inc(Port^.Stray);
end;

function PortGetLineResult(Port: PPascalPort; Line: LongWord): LongInt; stdcall;
begin
  Result := NoReply;
end;

procedure PortSetReplyCode(Port: PPascalPort; Line, Code: LongWord); stdcall;
begin
end;

procedure PortSetRxState(Port: PPascalPort; Line, State: LongWord); stdcall;
begin
  Port^.RxState := LongInt(State);
end;

function PortGetRxState(Port: PPascalPort; Line: LongWord): LongInt; stdcall;
begin
  Result := Port^.RxState;
end;

{ Stores the reply byte by byte and asks the driver's check after each. }
function PortSendAndReceive(Port: PPascalPort; Line: LongWord; TxBuf: PByte; TxLen: LongWord;
  RxBuf: PByte; Arg42, SynArg: LongWord): LongInt; stdcall;
var
  Reply: TBytes;
  I: Integer;
  Stored: Byte;
begin
  if (TxLen < 5) or (TxBuf[0] <> Syn) or (Arg42 <> 42) or (SynArg <> Syn) then
    Inc(Port^.Stray);
  if Port^.Raises then
  begin
    Port^.Raises := False;
    raise Exception.Create('the serial line was taken away');
  end;
  Reply := Port^.Reply;
  Port^.Reply := nil;
  for I := 0 to High(Reply) do
  begin
    RxBuf[I] := Reply[I];
    Stored := I;
    if Port^.Check(Port^.Context, Line, RxBuf, 0, @Stored, 0) and $FF <> 0 then
      Exit(0);
  end;
  Result := NoReply;
end;

function PortConfigureLine(Port: PPascalPort; Line, Mode, Baud: LongWord): LongInt; stdcall;
begin
  Result := 0;
end;

procedure PortSetReplyCheck(Port: PPascalPort; Line: LongWord; Check: TReplyCheck;
  Context: Pointer); stdcall;
begin
  Port^.Check := Check;
  Port^.Context := Context;
end;

procedure MakePort;
var
  I: Integer;
begin
  for I := Low(PortTable) to High(PortTable) do
    PortTable[I] := @PortUnused;
  PortTable[1] := @PortGetLineResult;
  PortTable[2] := @PortSetReplyCode;
  PortTable[3] := @PortSetRxState;
  PortTable[4] := @PortGetRxState;
  PortTable[16] := @PortSendAndReceive;
  PortTable[17] := @PortConfigureLine;
  PortTable[19] := @PortSetReplyCheck;
  Port.Table := @PortTable;
end;

{ ---- the driver ---------------------------------------------------------- }

function Slots(Driver: Pointer): PSlots;
begin
  Result := PPointer(Driver)^;
end;

{ Frees the object the way this language frees one: Self in EAX, the
  outermost flag in DL. Returns how far ESP moved across the call. }
function FreeDriver(Driver: Pointer): PtrInt;
var
  Entry: TDestroyEntry;
  Before, After: PtrUInt;
begin
  Entry := TDestroyEntry(PPointer(PByte(Slots(Driver)) - SizeOf(Pointer))^);
  asm
    mov Before, esp
  end;
  Entry(Driver, 1);
  asm
    mov After, esp
  end;
  Result := PtrInt(After - Before);
end;

{ ---- failures as this host receives them -------------------------------- }

type
  TCall = procedure is nested;

{ Runs Call, which must fail with the driver's exception of this kind and message. }
procedure ExpectFailure(Call: TCall; Kind: LongWord; const Message: ShortString; const What: string);
var
  Record_: PExceptionRecord;
  Text: ShortString;
  Length_: PtrUInt;
begin
  try
    Call();
    Check(False, What + ': fails');
  except
    on E: EExternal do
    begin
      Record_ := E.ExceptionRecord;
      Length_ := PtrUInt(Record_^.ExceptionInformation[2]);
      if Length_ > 255 then
        Length_ := 255;
      Text[0] := Chr(Length_);
      Move(PAnsiChar(Record_^.ExceptionInformation[1])^, Text[1], Length_);
      WriteLn('   code ', IntToHex(Record_^.ExceptionCode, 8), ', flags ', Record_^.ExceptionFlags,
        ', kind ', PtrUInt(Record_^.ExceptionInformation[0]), ', message "', Utf8Of(Text), '"');
      Check((Record_^.ExceptionCode = ZarvoExceptionCode) and (Record_^.NumberParameters >= 3)
        and (Record_^.ExceptionFlags and EXCEPTION_NONCONTINUABLE <> 0),
        What + ': the driver''s code, noncontinuable');
      Check(PtrUInt(Record_^.ExceptionInformation[0]) = Kind, What + ': kind');
      Check((Text = Message) and (PAnsiChar(Record_^.ExceptionInformation[1])[Length_] = #0),
        What + ': message');
    end;
    on E: Exception do
      Check(False, What + ': ' + E.ClassName + ' ' + E.Message);
  end;
end;

procedure RunCalls;
var
  Driver: Pointer;
  Objects: array[1..3] of Pointer;
  I: Integer;
  State: LongWord;

  procedure StatusOfPump4;
  begin
    State := TReadPumpState(Slots(Driver)^[10])(Driver, 1, $A5C3E704);
  end;

  procedure StatusOfPump33;
  begin
    State := TReadPumpState(Slots(Driver)^[10])(Driver, 1, 33);
  end;

  procedure ExpectStatus(const What: string);
  begin
    Port.Reply := ReplyFrame(4, 'J', '000300');
    State := 0;
    try
      StatusOfPump4;
    except
      on E: Exception do
        Check(False, What + ': ' + E.ClassName);
    end;
    Check(State = 228, What);
  end;

begin
  for I := Low(Objects) to High(Objects) do
    Objects[I] := GetDA30(0, 0, @Port);
  for I := Low(Objects) to High(Objects) do
    Check(FreeDriver(Objects[I]) = 0, 'object ' + IntToStr(I) + ' freed, the stack as it was');

  Driver := GetDA30(0, 0, @Port);
  ExpectFailure(@StatusOfPump4, KindSerialIO, CantGetSost, 'a silent line');
  ExpectFailure(@StatusOfPump33, KindException, PumpOutOfRange, 'pump 33');
  ExpectStatus('the same line answers a status reply');
  Port.Raises := True;
  ExpectFailure(@StatusOfPump4, KindSerialIO, CantGetSost, 'the port raises inside its exchange');
  ExpectStatus('the line works again');
  Check(FreeDriver(Driver) = 0, 'the last object freed');
  Check(Port.Stray = 0, 'the driver kept to the port contract');
end;

{ ---- the menu --------------------------------------------------------------- }

function ForeignMethod(Item: Pointer): Pointer; stdcall;
begin
  InterlockedIncrement(ForeignCalls);
  Result := nil;
  raise Exception.Create('a menu item of this host was called by the driver');
end;

var
  DialogFound: Boolean = False;

{ Finds the settings dialog and presses OK, as the user would. }
function PressOk(Parameter: Pointer): PtrInt;
var
  Dialog, Ok: HWND;
  Tries: Integer;
begin
  Result := 0;
  for Tries := 1 to 750 do
  begin
    Dialog := FindWindowW('#32770', PWideChar(WideOf(FormCaption)));
    if (Dialog <> 0) and IsWindowVisible(Dialog) then
    begin
      Ok := FindWindowExW(Dialog, 0, 'Button', 'OK');
      DialogFound := Ok <> 0;
      SendMessageW(Ok, BM_CLICK, 0, 0);
      Exit;
    end;
    Sleep(20);
  end;
end;

function SettingsPath: AnsiString;
var
  Dir: array[0..MAX_PATH] of AnsiChar;
begin
  SetString(Result, PAnsiChar(@Dir[0]), GetWindowsDirectoryA(@Dir[0], MAX_PATH));
  Result := Result + '\cnf.INI';
end;

function Setting(const Key: AnsiString): AnsiString;
var
  Value: array[0..31] of AnsiChar;
begin
  GetPrivateProfileStringA('Zarvo', PAnsiChar(Key), '<absent>', @Value[0], SizeOf(Value),
    PAnsiChar(SettingsPath));
  Result := PAnsiChar(@Value[0]);
end;

function MenuText(Menu: HMENU; Position: Integer): UnicodeString;
var
  Text: array[0..255] of WideChar;
begin
  Text[GetMenuStringW(Menu, Position, @Text[0], 256, MF_BYPOSITION)] := #0;
  Result := PWideChar(@Text[0]);
end;

procedure RunMenu(WithPumpsItem: Boolean);
var
  WindowClass: TWndClassW;
  AppWindow, Form: HWND;
  Bar, FileMenu, Pumps: HMENU;
  Driver: Pointer;
  Before, Id: Integer;
  Thread: TThreadID;
  I: Integer;
begin
  for I := Low(ForeignTable) to High(ForeignTable) do
    ForeignTable[I] := @ForeignMethod;
  ForeignRoot.Table := @ForeignTable;

  FillChar(WindowClass, SizeOf(WindowClass), 0);
  WindowClass.lpfnWndProc := @DefWindowProcW;
  WindowClass.hInstance := HInstance;
  WindowClass.lpszClassName := 'PascalHostForm';
  RegisterClassW(WindowClass);
  { The application's hidden window goes to the driver; the main form with
    the menu bar is owned by it, as in the station applications. }
  AppWindow := CreateWindowExW(0, 'PascalHostForm', 'Station', WS_OVERLAPPED, 0, 0, 0, 0, 0, 0,
    HInstance, nil);
  Bar := CreateMenu;
  FileMenu := CreatePopupMenu;
  AppendMenuW(FileMenu, MF_STRING, 101, 'Exit');
  AppendMenuW(Bar, MF_POPUP, UINT_PTR(FileMenu), PWideChar(WideOf(FileCaption)));
  Pumps := CreatePopupMenu;
  AppendMenuW(Pumps, MF_STRING, 201, 'Poll');
  if WithPumpsItem then
    AppendMenuW(Bar, MF_POPUP, UINT_PTR(Pumps), PWideChar(WideOf(PumpsCaption)));
  Form := CreateWindowExW(0, 'PascalHostForm', 'Station', WS_OVERLAPPEDWINDOW or WS_VISIBLE, 0, 0,
    400, 300, AppWindow, Bar, HInstance, nil);
  Check((AppWindow <> 0) and (Form <> 0), 'the host''s windows');

  DeleteFileA(PAnsiChar(SettingsPath));
  Driver := GetDA30(0, AppWindow, @Port);
  Before := GetMenuItemCount(Pumps);
  try
    TAddMenuItems(Slots(Driver)^[24])(Driver, @ForeignRoot, @ForeignMethod);
    Check(True, 'AddMenuItems returns');
  except
    on E: Exception do
      Check(False, 'AddMenuItems raised ' + E.ClassName + ' ' + E.Message);
  end;
  Check(ForeignCalls = 0, 'nothing called on the host''s own menu object');
  Check(GetMenuItemCount(Bar) = Ord(WithPumpsItem) + 1, 'the menu bar keeps its items');
  Check(GetMenuItemCount(FileMenu) = 1, 'the other drop-down keeps its items');

  if WithPumpsItem then
  begin
    Check(GetMenuItemCount(Pumps) = Before + 1, 'the drop-down gains one item');
    Check(MenuText(Pumps, Before) = WideOf(EntryCaption), 'the entry''s text');
    Id := GetMenuItemID(Pumps, Before);
    Thread := BeginThread(@PressOk, nil);
    SendMessageW(Form, WM_COMMAND, MAKEWPARAM(Id, 0), 0);
    WaitForSingleObject(Thread, 20000);
    Check(DialogFound, 'the entry''s command opens the dialog');
    Check(Setting('SDec') = '2', 'OK writes cnf.INI');
  end
  else
  begin
    Check(GetMenuItemCount(Pumps) = Before, 'a drop-down not in the bar is left alone');
    Check(Setting('SDec') = '<absent>', 'nothing written');
  end;
  Check(FreeDriver(Driver) = 0, 'the object freed');
  DestroyWindow(Form);
  DestroyWindow(AppWindow);
end;

var
  Library_: HMODULE;
  Mode: string;
begin
  Mode := ParamStr(2);
  if (ParamCount >= 3) and (ParamStr(3) = '--libgcc-first') then
    Check(LoadLibraryA('libgcc_s_dw2-1.dll') <> 0, 'libgcc_s_dw2-1.dll loaded first');
  Library_ := LoadLibraryA(PAnsiChar(AnsiString(ParamStr(1))));
  Pointer(GetDA30) := GetProcAddress(Library_, 'GetDA30');
  if not Assigned(GetDA30) then
  begin
    WriteLn('FAILED: cannot load ', ParamStr(1));
    Halt(1);
  end;
  MakePort;
  if Mode = 'calls' then
    RunCalls
  else if Mode = 'menu' then
    RunMenu(True)
  else if Mode = 'no-menu' then
    RunMenu(False)
  else
    Check(False, 'a mode: calls, menu or no-menu');
  WriteLn(Passed, ' passed, ', Failed, ' failed');
  if (Failed > 0) or (Passed = 0) then
    Halt(1);
end.
