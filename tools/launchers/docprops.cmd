@echo off
rem docprops: the properties of .doc, .xls and .ppt documents, through the
rem quorvane library. The DLL must match the JVM, not Windows: a 64-bit JVM
rem loads win32-x86-64\quorvane.dll, a 32-bit one win32-x86\quorvane.dll.
setlocal
set "here=%~dp0"
set "java=java"
if defined JAVA_HOME set "java=%JAVA_HOME%\bin\java"
set "arch=win32-x86"
"%java%" -XshowSettings:properties -version 2>&1 | findstr /c:"sun.arch.data.model = 64" >nul && set "arch=win32-x86-64"
"%java%" "-Djava.library.path=%here%%arch%" -cp "%here%*" com.quorvane.tools.DocProps %*
exit /b %errorlevel%
