#!/usr/bin/env python3
"""The web page of `zarvo serve` in a real browser (headless Chromium driven
through chromium-driver): the token entered once, a preset of 100.00 at 50.00
on pump 1, and 2.00 l and 100.00 showing on its tile without a reload.

    serve_page_test.py ZARVO LIBRARY SCREENSHOT.png CHROMIUM CHROMEDRIVER
"""
import json
import os
import socket
import subprocess
import sys
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

# ctest's mark for a test that could not run here.
SKIPPED = 77

CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                  "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync", "--lang=en-US"]


def tile_shows(browser, volume, amount):
    shown = browser.find_elements(By.CSS_SELECTOR, "#p-1-1 .volume, #p-1-1 .amount")
    return [e.text for e in shown] == [volume, amount]


def main(zarvo, library, screenshot, chromium, chromedriver):
    with tempfile.TemporaryDirectory() as folder:
        env = dict(os.environ, ZARVO_WINDIR=folder)
        server = subprocess.Popen(
            [zarvo, "--lib", library, "--json", "serve", "--listen", "127.0.0.1:0",
             "--token-file", folder + "/token", "--journal", folder + "/journal.db",
             "--pumps", "2"],
            stdout=subprocess.PIPE, env=env)
        browser = None
        try:
            url = json.loads(server.stdout.readline())["url"]
            with open(folder + "/token", encoding="ascii") as file:
                token = file.read().strip()
            options = Options()
            options.binary_location = chromium
            for flag in CHROMIUM_FLAGS + ["--user-data-dir=" + folder + "/browser"]:
                options.add_argument(flag)
            browser = webdriver.Chrome(service=Service(chromedriver), options=options)
            browser.set_window_size(1100, 900)
            browser.get(url)
            wait = WebDriverWait(browser, 20)
            wait.until(lambda b: b.find_element(By.ID, "token").is_displayed())
            browser.find_element(By.ID, "token").send_keys(token)
            browser.find_element(By.ID, "login-button").click()
            wait.until(lambda b: b.find_elements(By.ID, "p-1-1"))
            wait.until(lambda b: "on" in b.find_element(By.ID, "live").get_attribute("class"))
            # Gone if the page loads again.
            browser.execute_script("document.body.dataset.same = 'yes'")
            Select(browser.find_element(By.ID, "cmd-pump")).select_by_value("1/1")
            Select(browser.find_element(By.ID, "nozzle")).select_by_visible_text("1")
            Select(browser.find_element(By.ID, "preset-kind")).select_by_value("amount")
            browser.find_element(By.ID, "preset-value").send_keys("100.00")
            browser.find_element(By.ID, "preset-price").send_keys("50.00")
            browser.find_element(By.ID, "preset-button").click()
            WebDriverWait(browser, 40).until(lambda b: tile_shows(b, "2.00 l", "100.00"))
            WebDriverWait(browser, 10).until(
                lambda b: b.find_elements(By.CSS_SELECTOR, "#journal-rows tr"))
            same = browser.execute_script("return document.body.dataset.same")
            outcome = browser.find_element(By.ID, "outcome").text
            browser.save_screenshot(screenshot)
            if same != "yes":
                print("the page was loaded again")
                return 1
            print("pump 1 shows 2.00 l and 100.00; the command said:", outcome)
            print("screenshot:", screenshot)
            return 0
        finally:
            if browser is not None:
                browser.quit()
            server.terminate()
            server.wait(timeout=20)


if __name__ == "__main__":
    if len(sys.argv) != 6:
        print(__doc__)
        sys.exit(2)
    # chromedriver reaches the browser at "localhost"; a machine without
    # /etc/hosts (a bare debootstrap root) does not resolve it.
    try:
        socket.getaddrinfo("localhost", None)
    except OSError as error:
        print(f"skipped: this machine does not resolve localhost ({error}), "
              "which chromedriver needs; add '127.0.0.1 localhost' to /etc/hosts")
        sys.exit(SKIPPED)
    sys.exit(main(*sys.argv[1:6]))
