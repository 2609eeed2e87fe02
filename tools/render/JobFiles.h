// The files of a run, named and checked before any module is loaded: for
// every input its output, editor picture and level plot, each checked
// against every input and every other output, and every output folder
// writable.
#pragma once

#include <string>
#include <vector>

#include "RenderOptions.h"

namespace render {

// One input and the files made from it. Display names are as the user (or
// the default naming) wrote them; targets are where the bytes go, with
// symbolic links resolved.
struct Job {
  std::string input;  // empty: the embedded material
  std::string output, outputTarget;
  std::string outputOption;  // "-o" or "the output"
  int container = 0;
  std::string editorPng, editorTarget;
  std::string plotPng, plotTarget;
  bool savesPreset = false;
};

std::string WithoutExtension(const std::string& path);
std::string ExtensionOf(const std::string& path);
std::string Lowered(std::string text);

// Output names for every input, before anything is opened.
bool PlanJobs(Options& options, std::vector<Job>& jobs, Failure& failure);

// Every output against every input and every other output, and every output
// folder writable, before the plug-in is even loaded. Fills the jobs'
// targets and makes a missing "-o folder/".
bool CheckFiles(const Options& options, std::vector<Job>& jobs, Failure& failure);

// The folder CheckFiles made for the outputs, or "": a failed run removes
// it again if nothing went in.
const std::string& CreatedOutputFolder();

}  // namespace render
