#pragma once

int RunMainFormTests(int argc, char** argv);
int RunAboutBoxTests(int argc, char** argv);
int RunQtDispatcherTests(int argc, char** argv);
int RunListViewRowsTests(int argc, char** argv);
