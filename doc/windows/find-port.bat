@echo off
rem Finds the port that answers AT (every COM port tried at once, within
rem about 6 seconds), then asks it for the signal quality.
rem The list has one line a port, its fields separated by tabs:
rem name, verdict (1 answered, -1 failed, -2 silent), description, identity.
"%~dp0atcmd.exe" /list /cmd AT /resp OK /timeout 1000 > ports.txt
set port=
rem delims is one tab: descriptions hold spaces.
for /f "tokens=1,2 delims=	" %%A in (ports.txt) do if "%%B"=="1" if not defined port set port=%%A
if not defined port (
    echo no port answers AT
    exit /b 1
)
echo AT port: %port%
"%~dp0atcmd.exe" /port %port% /cmd AT+CSQ /resp "^OK" /timeout 3000 > answer.txt
set result=%ERRORLEVEL%
if %result% NEQ 1 (
    echo no answer as expected from %port%: exit code %result%
    exit /b 1
)
rem The line that starts with +CSQ:, for example "+CSQ: 21,99".
for /f "delims=" %%L in ('findstr /b /c:"+CSQ:" answer.txt') do set signal=%%L
echo signal: %signal%
