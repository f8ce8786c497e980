@echo off
rem docprops: the properties of .doc, .xls and .ppt documents, through the
rem quorvane library. The DLL must match the JVM, not Windows: a 64-bit JVM
rem loads win32-x86-64\quorvane.dll, a 32-bit one win32-x86\quorvane.dll.
setlocal
set "here=%~dp0"
set "java=java"
if defined JAVA_HOME set "java=%JAVA_HOME%\bin\java"
rem The JVM's bitness from its release file, which every JDK and JRE since
rem 9 has, so that one JVM starts, not two; a JVM without one (a launcher
rem stub on the PATH) is asked.
set "home="
if defined JAVA_HOME (set "home=%JAVA_HOME%") else for %%j in (java.exe) do if not "%%~$PATH:j"=="" set "home=%%~dp$PATH:j.."
set "arch=win32-x86"
set "osarch="
if defined home if exist "%home%\release" (
  for /f "usebackq tokens=1,* delims==" %%a in ("%home%\release") do if "%%a"=="OS_ARCH" set "osarch=%%~b"
)
if not defined osarch goto ask
if /i "%osarch%"=="x86_64" set "arch=win32-x86-64"
if /i "%osarch%"=="amd64" set "arch=win32-x86-64"
goto run
:ask
for /f "tokens=1,2 delims== " %%a in ('call "%java%" -XshowSettings:properties -version 2^>^&1') do (
  if "%%a"=="sun.arch.data.model" if "%%b"=="64" set "arch=win32-x86-64"
)
:run
"%java%" "-Djava.library.path=%here%%arch%" -cp "%here%*" com.quorvane.tools.DocProps %*
exit /b %errorlevel%
